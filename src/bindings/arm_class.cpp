// VornaltArmKinematics: one arm's geometry and its kinematic queries.

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <vornalt_torso_kinematics/arm/fk.hpp>
#include <vornalt_torso_kinematics/arm/geometry_json.hpp>
#include <vornalt_torso_kinematics/arm/ik.hpp>
#include <vornalt_torso_kinematics/bindings/classes.hpp>
#include <vornalt_torso_kinematics/bindings/docs.hpp>
#include <vornalt_torso_kinematics/bindings/frame.hpp>

namespace vornalt_torso_kinematics::bindings {
namespace {

constexpr const char* kNewNames[] = {"arm_arc", "coupler_arc", "mirror"};
constexpr const char* kThetaNames[] = {"theta_a", "theta_b"};
constexpr const char* kRTargetNames[] = {"r_target"};
constexpr const char* kDirectionNames[] = {"v3", "near"};
constexpr const char* kV3Names[] = {"v3"};
constexpr const char* kJsonNames[] = {"json"};

constexpr Signature kNew{TORSO_ARM_CLASS ".__new__()", kNewNames, 0};
constexpr Signature kFromJson{TORSO_ARM_CLASS ".from_json()", kJsonNames, 1};
constexpr Signature kFk{TORSO_ARM_CLASS ".fk()", kThetaNames, 2};
constexpr Signature kDirection{TORSO_ARM_CLASS ".direction()", kThetaNames, 2};
constexpr Signature kIsReachableJoints{TORSO_ARM_CLASS ".is_reachable_joints()", kThetaNames, 2};
constexpr Signature kIk{TORSO_ARM_CLASS ".ik()", kRTargetNames, 1};
constexpr Signature kIsReachableOrientation{TORSO_ARM_CLASS ".is_reachable_orientation()",
                                            kRTargetNames, 1};
constexpr Signature kIkFromDirection{TORSO_ARM_CLASS ".ik_from_direction()", kDirectionNames, 1};
constexpr Signature kIsReachableDirection{TORSO_ARM_CLASS ".is_reachable_direction()", kV3Names, 1};

constexpr const char* kUnreachable = "Target orientation is outside the spherical 5-bar workspace.";

/* ---------------------------------------------------------------------------------------- */
/* Construction                                                                              */

PyObject* arm_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  Slots slots;
  if (!bind_tuple(kNew, args, kwargs, slots)) return nullptr;
  arm::SphericalLinkGeometry geometry = arm::kDefaultLeft;
  if (!convert_argument<convert_float>(kNew, slots, 0, &geometry.arm_arc) ||
      !convert_argument<convert_float>(kNew, slots, 1, &geometry.coupler_arc) ||
      !convert_argument<convert_bool>(kNew, slots, 2, &geometry.mirror)) {
    return nullptr;
  }
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  ArmObject_CAST(self)->geometry = geometry;
  return self;
}

// A new instance of exactly the arm class holding `geometry`; null with the internal fault
// raised when the interpreter cannot create it.
PyObject* arm_result(const arm::SphericalLinkGeometry& geometry) {
  PyTypeObject* type = process.arm_type;
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return api_failure();
  ArmObject_CAST(self)->geometry = geometry;
  return self;
}

PyObject* default_left(PyObject* /* static */) {
  return arm_result(arm::kDefaultLeft);
}

PyObject* default_right(PyObject* /* static */) {
  return arm_result(arm::kDefaultRight);
}

// A new arm with the geometry that a JSON record describes.
PyObject* from_json(PyObject* /* static */, PyObject* const* args, Py_ssize_t nargsf,
                    PyObject* kwnames) {
  Slots slots;
  if (!bind_vector(kFromJson, args, nargsf, kwnames, slots)) return nullptr;
  std::string_view json;
  if (!convert_argument<convert_string>(kFromJson, slots, 0, &json)) return nullptr;
  const arm::DecodeResult decoded = arm::decode_geometry(json);
  if (const auto* geometry = std::get_if<arm::SphericalLinkGeometry>(&decoded)) {
    return arm_result(*geometry);
  }
  const auto* error = std::get_if<arm::DecodeError>(&decoded);
  if (error == nullptr) return PyErr_NoMemory();  // the record may be valid: no ValueError
  // The message may quote the record's own text, NUL characters included, and be as long.
  std::string message;
  try {
    message = "Invalid arms.json: " + error->message;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  const Owned text(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return api_failure();
  PyErr_SetObject(PyExc_ValueError, text.get());
  return nullptr;
}

/* ---------------------------------------------------------------------------------------- */
/* Geometry accessors                                                                        */

PyObject* arm_arc(PyObject* self) {
  Receiver receiver;
  if (!receiver.take(self, process.arm_type)) return nullptr;
  return float_result(ArmObject_CAST(self)->geometry.arm_arc);
}

PyObject* coupler_arc(PyObject* self) {
  Receiver receiver;
  if (!receiver.take(self, process.arm_type)) return nullptr;
  return float_result(ArmObject_CAST(self)->geometry.coupler_arc);
}

PyObject* mirror(PyObject* self) {
  Receiver receiver;
  if (!receiver.take(self, process.arm_type)) return nullptr;
  return bool_result(ArmObject_CAST(self)->geometry.mirror);
}

/* ---------------------------------------------------------------------------------------- */
/* Forward queries                                                                           */

// Binds and converts (theta_a, theta_b), then runs `routine` (forward kinematics unless told
// otherwise) on the receiver's arm; null with an exception set when the arguments are wrong.
template <auto routine = &arm::forward_kinematics, typename MapOutcome>
PyObject* forward_query(const Signature& signature, PyObject* self, PyObject* const* args,
                        Py_ssize_t nargsf, PyObject* kwnames, MapOutcome&& map_outcome) {
  Slots slots;
  Receiver receiver;
  if (!begin_method(signature, process.arm_type, self, args, nargsf, kwnames, slots, receiver)) {
    return nullptr;
  }
  double theta_a = 0.0;
  double theta_b = 0.0;
  if (!convert_argument<convert_float>(signature, slots, 0, &theta_a) ||
      !convert_argument<convert_float>(signature, slots, 1, &theta_b)) {
    return nullptr;
  }
  return map_outcome(routine(ArmObject_CAST(self)->geometry, theta_a, theta_b));
}

PyObject* fk(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return forward_query(kFk, self, args, nargsf, kwnames, [](const arm::FkResult& outcome) {
    if (const auto* solution = std::get_if<arm::FkSolution>(&outcome)) {
      return matrix_result(solution->rotation);
    }
    return raise_message(PyExc_RuntimeError, arm::LoopNotClosed::message);
  });
}

PyObject* direction(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return forward_query(kDirection, self, args, nargsf, kwnames, [](const arm::FkResult& outcome) {
    if (const auto* solution = std::get_if<arm::FkSolution>(&outcome)) {
      return vector_result(solution->v_3);
    }
    return raise_message(PyExc_RuntimeError, arm::LoopNotClosed::message);
  });
}

PyObject* is_reachable_joints(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                              PyObject* kwnames) {
  // Only whether the loop closes: the closure test, without the coupler joint and the frame.
  return forward_query<&arm::loop_closes>(kIsReachableJoints, self, args, nargsf, kwnames,
                                          [](bool closes) { return bool_result(closes); });
}

/* ---------------------------------------------------------------------------------------- */
/* Inverse queries                                                                           */

// Binds and converts r_target, then solves the receiver's arm for that orientation.
template <typename MapOutcome>
PyObject* orientation_query(const Signature& signature, PyObject* self, PyObject* const* args,
                            Py_ssize_t nargsf, PyObject* kwnames, MapOutcome&& map_outcome) {
  Slots slots;
  Receiver receiver;
  if (!begin_method(signature, process.arm_type, self, args, nargsf, kwnames, slots, receiver)) {
    return nullptr;
  }
  Mat3 r_target;
  if (!convert_argument<convert_matrix>(signature, slots, 0, &r_target)) return nullptr;
  return map_outcome(arm::inverse_kinematics(ArmObject_CAST(self)->geometry, r_target));
}

// A joint pair as a tuple, or the RuntimeError of an unreachable target.
PyObject* pair_or_unreachable(const std::optional<JointPair>& outcome) {
  if (outcome) return pair_result(*outcome);
  return raise_message(PyExc_RuntimeError, kUnreachable);
}

// Whether the inverse kinematics found a joint pair.
PyObject* found(const std::optional<JointPair>& outcome) {
  return bool_result(outcome.has_value());
}

PyObject* ik(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return orientation_query(kIk, self, args, nargsf, kwnames, pair_or_unreachable);
}

PyObject* is_reachable_orientation(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                                   PyObject* kwnames) {
  return orientation_query(kIsReachableOrientation, self, args, nargsf, kwnames, found);
}

PyObject* ik_from_direction(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) {
  Slots slots;
  Receiver receiver;
  if (!begin_method(kIkFromDirection, process.arm_type, self, args, nargsf, kwnames, slots,
                    receiver)) {
    return nullptr;
  }
  Vec3 v3{0.0, 0.0, 0.0};
  std::optional<JointPair> near;
  if (!convert_argument<convert_vector>(kIkFromDirection, slots, 0, &v3) ||
      !convert_argument<convert_optional_pair>(kIkFromDirection, slots, 1, &near)) {
    return nullptr;
  }
  return pair_or_unreachable(
      arm::inverse_kinematics_from_direction(ArmObject_CAST(self)->geometry, v3, near));
}

PyObject* is_reachable_direction(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                                 PyObject* kwnames) {
  Slots slots;
  Receiver receiver;
  if (!begin_method(kIsReachableDirection, process.arm_type, self, args, nargsf, kwnames, slots,
                    receiver)) {
    return nullptr;
  }
  Vec3 v3{0.0, 0.0, 0.0};
  if (!convert_argument<convert_vector>(kIsReachableDirection, slots, 0, &v3)) return nullptr;
  return found(
      arm::inverse_kinematics_from_direction(ArmObject_CAST(self)->geometry, v3, std::nullopt));
}

/* ---------------------------------------------------------------------------------------- */
/* Class object                                                                              */

PyMethodDef arm_methods[] = {
    noargs_method<default_left>(
        "default_left", "default_left()" TORSO_SIGNATURE_END TORSO_DOC_DEFAULT_LEFT, METH_STATIC),
    noargs_method<default_right>("default_right",
                                 "default_right()" TORSO_SIGNATURE_END TORSO_DOC_DEFAULT_RIGHT,
                                 METH_STATIC),
    fastcall_method<from_json>(
        "from_json", "from_json(json)" TORSO_SIGNATURE_END TORSO_DOC_FROM_JSON, METH_STATIC),
    fastcall_method<fk>("fk", "fk($self, theta_a, theta_b)" TORSO_SIGNATURE_END TORSO_DOC_ARM_FK),
    fastcall_method<ik>("ik", "ik($self, r_target)" TORSO_SIGNATURE_END TORSO_DOC_ARM_IK),
    fastcall_method<ik_from_direction>(
        "ik_from_direction",
        "ik_from_direction($self, v3, near=None)" TORSO_SIGNATURE_END TORSO_DOC_IK_FROM_DIRECTION),
    fastcall_method<direction>(
        "direction", "direction($self, theta_a, theta_b)" TORSO_SIGNATURE_END TORSO_DOC_DIRECTION),
    fastcall_method<is_reachable_joints>(
        "is_reachable_joints", "is_reachable_joints($self, theta_a, theta_b)" TORSO_SIGNATURE_END
                                   TORSO_DOC_IS_REACHABLE_JOINTS),
    fastcall_method<is_reachable_orientation>(
        "is_reachable_orientation", "is_reachable_orientation($self, r_target)" TORSO_SIGNATURE_END
                                        TORSO_DOC_IS_REACHABLE_ORIENTATION),
    fastcall_method<is_reachable_direction>(
        "is_reachable_direction",
        "is_reachable_direction($self, v3)" TORSO_SIGNATURE_END TORSO_DOC_IS_REACHABLE_DIRECTION),
    noargs_method<arm_arc>("arm_arc", "arm_arc($self)" TORSO_SIGNATURE_END TORSO_DOC_ACCESSOR),
    noargs_method<coupler_arc>("coupler_arc",
                               "coupler_arc($self)" TORSO_SIGNATURE_END TORSO_DOC_ACCESSOR),
    noargs_method<mirror>("mirror", "mirror($self)" TORSO_SIGNATURE_END TORSO_DOC_ACCESSOR),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot arm_slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_new, reinterpret_cast<void*>(&new_entry<arm_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_instance)},
    {Py_tp_doc, const_cast<char*>(TORSO_ARM_CLASS TORSO_ARM_NEW_SIGNATURE TORSO_SIGNATURE_END)},
    {Py_tp_methods, arm_methods},
    {0, nullptr},
};

}  // namespace

PyType_Spec arm_spec = {
    TORSO_MODULE_NAME "." TORSO_ARM_CLASS, sizeof(ArmObject), 0, Py_TPFLAGS_DEFAULT, arm_slots,
};

PyTypeObject* create_arm_type() {
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&arm_spec));
}

}  // namespace vornalt_torso_kinematics::bindings
