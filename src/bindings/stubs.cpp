// The type-stub records of VornaltArmKinematics and VornaltNeckKinematics, and their
// registration while the shared object is loaded.

#include <vornalt_torso_kinematics/bindings/stubs.hpp>

#include <array>
#include <initializer_list>
#include <new>
#include <string>
#include <tuple>

#include <vornalt_torso_kinematics/arm/geometry.hpp>
#include <vornalt_torso_kinematics/bindings/classes.hpp>
#include <vornalt_torso_kinematics/bindings/docs.hpp>
#include <vornalt_torso_kinematics/bindings/owned.hpp>

namespace vornalt_torso_kinematics::stubs {

constinit Registry<PyClassInfo> class_registry;
constinit Registry<PyMethodsInfo> methods_registry;

/* ---------------------------------------------------------------------------------------- */
/* Defaults                                                                                  */

// A mutex rather than std::call_once, whose pthread_once would tie the module to glibc 2.34.
const std::string& DefaultText::text() {
  if (!computed_.load(std::memory_order_acquire)) {
    const std::lock_guard<std::mutex> lock(computing_);
    if (!computed_.load(std::memory_order_relaxed)) {
      text_ = compute_();
      computed_.store(true, std::memory_order_release);
    }
  }
  return text_;
}

namespace {

// Starts the interpreter unless someone has, then frees its lock for PyGILState_Ensure.
void ensure_interpreter() {
  static const bool started = [] {
    if (Py_IsInitialized()) return false;
    Py_InitializeEx(0);  // the host keeps its own signal handlers
    PyEval_SaveThread();
    return true;
  }();
  static_cast<void>(started);
}

// Whether `text` compiles as an expression that refers to no name: 0.7, -0.0, False, None,
// (1, 'a'), but not inf or <object object at 0x...>. Leaves any error it causes pending.
bool names_nothing(const char* text) {
  const bindings::Owned code(Py_CompileString(text, "<default>", Py_eval_input));
  if (!code) return false;
  const bindings::Owned names(PyObject_GetAttrString(code.get(), "co_names"));
  return names && PyTuple_Check(names.get()) && PyTuple_GET_SIZE(names.get()) == 0;
}

// The repr of the value that `make` creates when it is of a builtin type and an expression
// that refers to no name, else "..."; errors are left pending.
std::string builtin_repr(PyObject* (*make)()) {
  const bindings::Owned value(make());
  if (!value) return "...";
  const bindings::Owned module(PyType_GetModuleName(Py_TYPE(value.get())));
  if (!module || !PyUnicode_Check(module.get()) ||
      PyUnicode_CompareWithASCIIString(module.get(), "builtins") != 0) {
    return "...";
  }
  const bindings::Owned repr(PyObject_Repr(value.get()));
  const char* utf8 = repr ? PyUnicode_AsUTF8(repr.get()) : nullptr;
  return utf8 != nullptr && names_nothing(utf8) ? utf8 : "...";
}

}  // namespace

std::string python_default(PyObject* (*make)()) {
  ensure_interpreter();
  const PyGILState_STATE gil = PyGILState_Ensure();
  PyObject* pending = PyErr_GetRaisedException();
  std::string text;
  try {
    text = builtin_repr(make);
  } catch (const std::bad_alloc&) {
    text = "...";  // short enough to need no allocation; the lock is released below
  }
  PyErr_Clear();  // whatever failed only makes the text "..."
  PyErr_SetRaisedException(pending);
  PyGILState_Release(gil);
  return text;
}

namespace {

/* ---------------------------------------------------------------------------------------- */
/* Type rules                                                                                */

// Python's view of the values that cross the module boundary.
using Vector = std::array<double, 3>;
using Matrix = std::array<Vector, 3>;
using Pair = std::tuple<double, double>;
using Triple = std::tuple<double, double, double>;

// A simple type: "builtins." and the Python type name.
TypeInfo builtin(const char* name) {
  return {std::string("builtins.") + name, {{"builtins"}}};
}

// `head[e1, e2, ...]` with the elements' modules, plus `module` unless it is null.
TypeInfo generic(const char* head, std::initializer_list<TypeInfo> elements, const char* module) {
  TypeInfo out{std::string(head) + "[", {}};
  const char* separator = "";
  for (const TypeInfo& element : elements) {
    out.name += separator;
    out.name += element.name;
    out.import.insert(element.import.begin(), element.import.end());
    separator = ", ";
  }
  out.name += "]";
  if (module != nullptr) out.import.insert({module});
  return out;
}

// One of the module's own classes, by its bare name.
TypeInfo module_class(const char* name) {
  return {name, {{TORSO_MODULE_NAME}}};
}

// The rule table: how each kind of value reads as a parameter type (`input`) and as a return
// type (`output`). A kind without one of the two is never used that way.
template <typename T>
struct StubType;

template <>
struct StubType<double> {
  static TypeInfo input() { return builtin("float"); }
  static TypeInfo output() { return builtin("float"); }
};

template <>
struct StubType<bool> {
  static TypeInfo input() { return builtin("bool"); }
  static TypeInfo output() { return builtin("bool"); }
};

template <>
struct StubType<std::string_view> {
  static TypeInfo input() { return builtin("str"); }
};

// A fixed-length array: any sequence going in, a list coming out.
template <typename T, std::size_t N>
struct StubType<std::array<T, N>> {
  static TypeInfo input() { return generic("typing.Sequence", {StubType<T>::input()}, "typing"); }
  static TypeInfo output() { return generic("builtins.list", {StubType<T>::output()}, "builtins"); }
};

template <typename... T>
struct StubType<std::tuple<T...>> {
  static TypeInfo input() { return generic("tuple", {StubType<T>::input()...}, nullptr); }
  static TypeInfo output() { return generic("tuple", {StubType<T>::output()...}, nullptr); }
};

template <typename T>
struct StubType<std::optional<T>> {
  static TypeInfo input() { return generic("typing.Optional", {StubType<T>::input()}, "typing"); }
};

template <>
struct StubType<bindings::ArmObject> {
  static TypeInfo output() { return module_class(TORSO_ARM_CLASS); }
};

template <>
struct StubType<bindings::NeckObject> {
  static TypeInfo output() { return module_class(TORSO_NECK_CLASS); }
};

template <typename T>
constexpr TypeOperation returns = &StubType<T>::output;

/* ---------------------------------------------------------------------------------------- */
/* Records                                                                                   */

constinit DefaultText arm_arc_default{
    [] { return python_default([] { return PyFloat_FromDouble(arm::kDefaultLeft.arm_arc); }); }};
constinit DefaultText coupler_arc_default{[] {
  return python_default([] { return PyFloat_FromDouble(arm::kDefaultLeft.coupler_arc); });
}};
constinit DefaultText mirror_default{
    [] { return python_default([] { return PyBool_FromLong(arm::kDefaultLeft.mirror); }); }};
constinit DefaultText none_default{[] { return std::string("None"); }};

// A parameter of type T; only `name` and `with_default` parameters appear in the signature.
template <typename T>
constexpr ArgStubInfo arg(std::string_view name) {
  return {{}, name, &StubType<T>::input};
}

template <typename T>
constexpr ArgStubInfo named_arg(std::string_view name) {
  return {{SignatureKind::name, nullptr}, name, &StubType<T>::input};
}

template <typename T>
constexpr ArgStubInfo defaulted_arg(std::string_view name, DefaultText& text) {
  return {{SignatureKind::with_default, &text}, name, &StubType<T>::input};
}

constexpr ArgStubInfo kArmNewArgs[] = {
    defaulted_arg<double>("arm_arc", arm_arc_default),
    defaulted_arg<double>("coupler_arc", coupler_arc_default),
    defaulted_arg<bool>("mirror", mirror_default),
};
constexpr ArgStubInfo kFromJsonArgs[] = {arg<std::string_view>("json")};
constexpr ArgStubInfo kThetaArgs[] = {arg<double>("theta_a"), arg<double>("theta_b")};
constexpr ArgStubInfo kRTargetArgs[] = {arg<Matrix>("r_target")};
constexpr ArgStubInfo kIkFromDirectionArgs[] = {
    named_arg<Vector>("v3"),
    defaulted_arg<std::optional<Pair>>("near", none_default),
};
constexpr ArgStubInfo kV3Args[] = {arg<Vector>("v3")};

constexpr MethodKind kConstructor = MethodKind::constructor;
constexpr MethodKind kStatic = MethodKind::static_method;
constexpr MethodKind kInstance = MethodKind::instance_method;

using bindings::ArmObject;
using bindings::NeckObject;

constexpr MethodStubInfo kArmMethods[] = {
    {"__new__", kArmNewArgs, returns<ArmObject>, TORSO_DOC_ARM_NEW, kConstructor},
    {"default_left", {}, returns<ArmObject>, TORSO_DOC_DEFAULT_LEFT, kStatic},
    {"default_right", {}, returns<ArmObject>, TORSO_DOC_DEFAULT_RIGHT, kStatic},
    {"from_json", kFromJsonArgs, returns<ArmObject>, TORSO_DOC_FROM_JSON, kStatic},
    {"fk", kThetaArgs, returns<Matrix>, TORSO_DOC_ARM_FK, kInstance},
    {"ik", kRTargetArgs, returns<Pair>, TORSO_DOC_ARM_IK, kInstance},
    {"ik_from_direction", kIkFromDirectionArgs, returns<Pair>, TORSO_DOC_IK_FROM_DIRECTION,
     kInstance},
    {"direction", kThetaArgs, returns<Vector>, TORSO_DOC_DIRECTION, kInstance},
    {"is_reachable_joints", kThetaArgs, returns<bool>, TORSO_DOC_IS_REACHABLE_JOINTS, kInstance},
    {"is_reachable_orientation", kRTargetArgs, returns<bool>, TORSO_DOC_IS_REACHABLE_ORIENTATION,
     kInstance},
    {"is_reachable_direction", kV3Args, returns<bool>, TORSO_DOC_IS_REACHABLE_DIRECTION, kInstance},
    {"arm_arc", {}, returns<double>, TORSO_DOC_ACCESSOR, kInstance},
    {"coupler_arc", {}, returns<double>, TORSO_DOC_ACCESSOR, kInstance},
    {"mirror", {}, returns<bool>, TORSO_DOC_ACCESSOR, kInstance},
};

constexpr ArgStubInfo kJointsArgs[] = {arg<Vector>("joints")};
constexpr ArgStubInfo kRArgs[] = {arg<Matrix>("r")};

constexpr MethodStubInfo kNeckMethods[] = {
    {"__new__", {}, returns<NeckObject>, "", kConstructor},
    {"fk", kJointsArgs, returns<Matrix>, TORSO_DOC_NECK_FK, kInstance},
    {"ik", kRArgs, returns<Triple>, TORSO_DOC_NECK_IK, kInstance},
};

constinit Registered<PyMethodsInfo> arm_methods_entry{{&bindings::arm_spec, {}, kArmMethods}};
constinit Registered<PyClassInfo> arm_class_entry{
    {&bindings::arm_spec, TORSO_ARM_CLASS, "", {}, {}, TORSO_MODULE_NAME}};
constinit Registered<PyMethodsInfo> neck_methods_entry{{&bindings::neck_spec, {}, kNeckMethods}};
constinit Registered<PyClassInfo> neck_class_entry{
    {&bindings::neck_spec, TORSO_NECK_CLASS, "", {}, {}, TORSO_MODULE_NAME}};

/* ---------------------------------------------------------------------------------------- */
/* Registration                                                                              */

// Links one entry into its registry while the shared object is loaded.
struct Registration {
  template <typename Record>
  Registration(Registry<Record>& registry, Registered<Record>& entry) noexcept {
    registry.prepend(entry);
  }
};

// Initialisers of one translation unit run in the order of definition.
const Registration arm_methods_registration{methods_registry, arm_methods_entry};
const Registration arm_class_registration{class_registry, arm_class_entry};
const Registration neck_methods_registration{methods_registry, neck_methods_entry};
const Registration neck_class_registration{class_registry, neck_class_entry};

}  // namespace
}  // namespace vornalt_torso_kinematics::stubs
