#include <vornalt_torso_kinematics/bindings/stubs.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <vornalt_torso_kinematics/bindings/classes.hpp>

using namespace vornalt_torso_kinematics;  // NOLINT: the library's names, unqualified

namespace {

using stubs::MethodKind;
using stubs::SignatureKind;

constexpr MethodKind kNew = MethodKind::constructor;
constexpr MethodKind kStatic = MethodKind::static_method;
constexpr MethodKind kSelf = MethodKind::instance_method;
constexpr SignatureKind kNone = SignatureKind::none;
constexpr SignatureKind kName = SignatureKind::name;
constexpr SignatureKind kDefault = SignatureKind::with_default;

constexpr const char* kFloat = "builtins.float";
constexpr const char* kBool = "builtins.bool";
constexpr const char* kVector = "typing.Sequence[builtins.float]";
constexpr const char* kMatrix = "typing.Sequence[typing.Sequence[builtins.float]]";
constexpr const char* kRotation = "builtins.list[builtins.list[builtins.float]]";
constexpr const char* kPair = "tuple[builtins.float, builtins.float]";

struct Arg {
  std::string name;
  std::string type;
  SignatureKind signature;
  std::string default_text;  // empty unless the signature carries a default
};

struct Method {
  std::string name;
  MethodKind kind;
  std::vector<Arg> args;
  std::string returns;
  std::string doc;
};

const std::vector<Arg> kThetas = {{"theta_a", kFloat, kNone, ""}, {"theta_b", kFloat, kNone, ""}};

const std::vector<Method> kArmMethods = {
    {"__new__",
     kNew,
     {{"arm_arc", kFloat, kDefault, "0.7"},
      {"coupler_arc", kFloat, kDefault, "0.5"},
      {"mirror", kBool, kDefault, "False"}},
     "VornaltArmKinematics",
     "Create an arm with explicit geometry parameters.\n\n- `arm_arc`: arc length (radians) of "
     "each input arm.\n- `coupler_arc`: arc length (radians) of each coupler segment.\n- "
     "`mirror`: when true, mirror the arm across the YZ plane (right arm)."},
    {"default_left", kStatic, {}, "VornaltArmKinematics", "Build the default left-arm geometry."},
    {"default_right",
     kStatic,
     {},
     "VornaltArmKinematics",
     "Build the default right-arm geometry (mirror of left)."},
    {"from_json",
     kStatic,
     {{"json", "builtins.str", kNone, ""}},
     "VornaltArmKinematics",
     "Build the arm from a JSON string matching `SphericalLinkGeometry`."},
    {"fk", kSelf, kThetas, kRotation,
     "Forward kinematics: `(θ_A, θ_B)` → 3×3 rotation of the end-effector.\nRaises "
     "`RuntimeError` when the loop fails to close (target joint\npair is outside the "
     "workspace)."},
    {"ik",
     kSelf,
     {{"r_target", kMatrix, kNone, ""}},
     kPair,
     "Inverse kinematics: 3×3 rotation → `(θ_A, θ_B)`.\nRaises `RuntimeError` when the target "
     "orientation isn't reachable."},
    {"ik_from_direction",
     kSelf,
     {{"v3", kVector, kName, ""},
      {"near", "typing.Optional[tuple[builtins.float, builtins.float]]", kDefault, "None"}},
     kPair,
     "Inverse kinematics from just the end-effector pointing direction\n(3-vector, "
     "automatically normalized). When multiple `(θ_A, θ_B)`\nbranches reach the same "
     "direction, `near` (an optional current\njoint pair) picks the closest one; otherwise the "
     "smallest-norm\nsolution wins."},
    {"direction", kSelf, kThetas, "builtins.list[builtins.float]",
     "Forward kinematics that returns just the end-effector pointing\ndirection (the third "
     "column of the FK rotation, equal to `v_3`)."},
    {"is_reachable_joints", kSelf, kThetas, kBool,
     "Whether `(θ_A, θ_B)` lands inside the workspace (loop closes)."},
    {"is_reachable_orientation",
     kSelf,
     {{"r_target", kMatrix, kNone, ""}},
     kBool,
     "Whether `r_target` is on the reachable manifold (IK succeeds)."},
    {"is_reachable_direction",
     kSelf,
     {{"v3", kVector, kNone, ""}},
     kBool,
     "Whether the pointing direction `v3` (3-vector, auto-normalized)\nis on the reachable "
     "manifold."},
    {"arm_arc", kSelf, {}, kFloat, ""},
    {"coupler_arc", kSelf, {}, kFloat, ""},
    {"mirror", kSelf, {}, kBool, ""},
};

const std::vector<Method> kNeckMethods = {
    {"__new__", kNew, {}, "VornaltNeckKinematics", ""},
    {"fk",
     kSelf,
     {{"joints", kVector, kNone, ""}},
     kRotation,
     "Forward kinematics. `joints = [yaw, pitch, roll]` in radians.\nReturns the 3×3 rotation "
     "matrix of the head frame in the body frame."},
    {"ik",
     kSelf,
     {{"r", kMatrix, kNone, ""}},
     "tuple[builtins.float, builtins.float, builtins.float]",
     "Inverse kinematics. `r` is a 3×3 rotation matrix (row-major).\nReturns `(yaw, pitch, "
     "roll)` in radians.\n\nRaises `ValueError` near gimbal lock (|pitch| ≈ π/2). The "
     "neck's\npitch range is well under that limit in practice."},
};

// The methods record registered for the class with `class_id`; fails the test if not one.
const stubs::PyMethodsInfo& methods_of(const void* class_id) {
  const stubs::PyMethodsInfo* found = nullptr;
  int count = 0;
  for (const stubs::PyMethodsInfo* record : stubs::methods_registry.records()) {
    if (record->class_id == class_id) found = record, ++count;
  }
  EXPECT_EQ(count, 1);
  return *found;
}

// The modules a type operation's result names, as plain strings.
std::set<std::string> modules(stubs::TypeOperation type) {
  std::set<std::string> names;
  for (const stubs::ModuleRef& module : type().import) names.insert(module.name);
  return names;
}

// Compares a registered methods list with the expected table, entry by entry.
void expect_methods(const stubs::PyMethodsInfo& record, const std::vector<Method>& expected) {
  ASSERT_EQ(record.methods.size(), expected.size());
  EXPECT_TRUE(record.attributes.empty());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const stubs::MethodStubInfo& method = record.methods[i];
    const Method& want = expected[i];
    SCOPED_TRACE(want.name);
    EXPECT_EQ(method.name, want.name);
    EXPECT_EQ(method.kind, want.kind);
    EXPECT_EQ(method.return_type().name, want.returns);
    EXPECT_EQ(method.doc, want.doc);
    ASSERT_EQ(method.args.size(), want.args.size());
    for (std::size_t k = 0; k < want.args.size(); ++k) {
      const stubs::ArgStubInfo& arg = method.args[k];
      EXPECT_EQ(arg.name, want.args[k].name);
      EXPECT_EQ(arg.type().name, want.args[k].type);
      EXPECT_EQ(arg.signature.kind, want.args[k].signature);
      ASSERT_EQ(arg.signature.default_text != nullptr, arg.signature.kind == kDefault);
      if (arg.signature.default_text != nullptr) {
        EXPECT_EQ(arg.signature.default_text->text(), want.args[k].default_text);
      }
    }
  }
}

// A Python object made by evaluating `expression` (null with an error set if that fails).
PyObject* eval(const char* expression) {
  PyObject* globals = PyDict_New();
  if (globals == nullptr) return nullptr;
  PyObject* value = PyRun_String(expression, Py_eval_input, globals, globals);
  Py_DECREF(globals);
  return value;
}

// Runs `work` on `count` threads at once.
template <typename Work>
void on_threads(int count, Work work) {
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) threads.emplace_back(work, i);
  for (std::thread& thread : threads) thread.join();
}

// Runs first in the program: under ctest every test has a process of its own.
TEST(StubDefaults, NoneIsTextWithoutStartingTheInterpreter) {
  if (Py_IsInitialized()) GTEST_SKIP() << "an earlier test started the interpreter";
  const auto& near = methods_of(&bindings::arm_spec).methods[6].args[1];
  EXPECT_EQ(near.signature.default_text->text(), "None");
  EXPECT_FALSE(Py_IsInitialized());
}

TEST(StubDefaults, ConcurrentFirstRequestsStartTheInterpreterOnce) {
  const auto& constructor = methods_of(&bindings::arm_spec).methods[0];
  std::vector<std::string> texts(3 * 6);
  on_threads(6, [&](int t) {
    for (int k = 0; k < 3; ++k)
      texts[3 * t + k] = constructor.args[k].signature.default_text->text();
  });
  for (int t = 0; t < 6; ++t) {
    EXPECT_EQ(texts[3 * t], "0.7");
    EXPECT_EQ(texts[3 * t + 1], "0.5");
    EXPECT_EQ(texts[3 * t + 2], "False");
  }
  EXPECT_TRUE(Py_IsInitialized());
}

TEST(StubDefaults, ReprOnlyForLiteralsOfBuiltinTypes) {
  struct Case {
    PyObject* (*make)();
    const char* text;
  };
  const Case cases[] = {
      {[] { return eval("0.7"); }, "0.7"},
      {[] { return eval("-0.0"); }, "-0.0"},
      {[] { return eval("1e300"); }, "1e+300"},
      {[] { return eval("True"); }, "True"},
      {[] { return eval("None"); }, "None"},
      {[] { return eval("\"it's\""); }, "\"it's\""},
      {[] { return eval("(1, 'x')"); }, "(1, 'x')"},
      {[] { return eval("float('inf')"); }, "..."},  // repr is a name
      {[] { return eval("object()"); }, "..."},      // repr is no expression
      {[] { return eval("10 ** 5000"); }, "..."},    // repr raises
      {[] { return eval("1 / 0"); }, "..."},         // no value at all
      {[] { return eval("type('Metres', (float,), {'__module__': 'units'})(0.5)"); }, "..."},
  };
  for (const Case& c : cases) EXPECT_EQ(stubs::python_default(c.make), c.text) << c.text;

  // A caller's pending error survives, and no error of the computation is left behind.
  const PyGILState_STATE gil = PyGILState_Ensure();
  PyErr_SetString(PyExc_KeyError, "pending");
  EXPECT_EQ(stubs::python_default([] { return eval("1 / 0"); }), "...");
  EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_KeyError));
  PyErr_Clear();
  PyGILState_Release(gil);
}

TEST(StubDefaults, ComputedOnceUnderConcurrentFirstRequests) {
  static std::atomic<int> computed{0};
  static stubs::DefaultText text{[] { return std::to_string(++computed); }};
  std::vector<std::string> seen(8);
  on_threads(8, [&](int t) { seen[t] = text.text(); });
  EXPECT_EQ(computed.load(), 1);
  for (const std::string& s : seen) EXPECT_EQ(s, "1");
}

TEST(StubRegistry, ListsTheNeckClassBeforeTheArmClass) {
  const auto classes = stubs::class_registry.records();
  ASSERT_EQ(classes.size(), 2u);
  const struct {
    const char* name;
    const void* id;
  } expected[] = {{"VornaltNeckKinematics", &bindings::neck_spec},
                  {"VornaltArmKinematics", &bindings::arm_spec}};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(classes[i]->python_name, expected[i].name);
    EXPECT_EQ(classes[i]->class_id, expected[i].id);
    EXPECT_EQ(classes[i]->module, std::optional<std::string_view>("vornalt_torso_kinematics"));
    EXPECT_EQ(classes[i]->doc, "");
    EXPECT_TRUE(classes[i]->getters.empty() && classes[i]->setters.empty());
  }
  const auto methods = stubs::methods_registry.records();
  ASSERT_EQ(methods.size(), 2u);
  EXPECT_EQ(methods[0]->class_id, &bindings::neck_spec);
  EXPECT_EQ(methods[1]->class_id, &bindings::arm_spec);
}

TEST(StubRegistry, ArmMethods) {
  expect_methods(methods_of(&bindings::arm_spec), kArmMethods);
}

TEST(StubRegistry, NeckMethods) {
  expect_methods(methods_of(&bindings::neck_spec), kNeckMethods);
}

TEST(StubRegistry, ModulesEachTypeNeeds) {
  const auto& arm = methods_of(&bindings::arm_spec).methods;
  const auto& neck = methods_of(&bindings::neck_spec).methods;
  const std::set<std::string> builtins = {"builtins"};
  const std::set<std::string> typing = {"builtins", "typing"};
  const std::set<std::string> own = {"vornalt_torso_kinematics"};
  const struct {
    const char* what;
    stubs::TypeOperation type;
    std::set<std::string> modules;
  } cases[] = {
      {"arm fk returns", arm[4].return_type, builtins},
      {"neck ik returns", neck[2].return_type, builtins},
      {"ik_from_direction returns", arm[6].return_type, builtins},
      {"near", arm[6].args[1].type, typing},
      {"v3", arm[6].args[0].type, typing},
      {"r_target", arm[5].args[0].type, typing},
      {"json", arm[3].args[0].type, builtins},
      {"arm __new__ returns", arm[0].return_type, own},
      {"neck __new__ returns", neck[0].return_type, own},
  };
  for (const auto& c : cases) EXPECT_EQ(modules(c.type), c.modules) << c.what;
}

TEST(StubRegistry, ConcurrentPrependsKeepEveryEntryOnce) {
  static stubs::Registry<int> registry;
  static stubs::Registered<int> entries[64];
  on_threads(8, [](int t) {
    for (int k = 0; k < 8; ++k) {
      entries[8 * t + k].record = 8 * t + k;
      registry.prepend(entries[8 * t + k]);
    }
  });
  std::multiset<int> seen;
  for (const int* record : registry.records()) seen.insert(*record);
  ASSERT_EQ(seen.size(), 64u);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(seen.count(i), 1u) << i;
}

}  // namespace
