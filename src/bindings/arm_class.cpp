// VornaltArmKinematics: one arm's geometry and its kinematic queries.

#include <variant>

#include "arm/fk.hpp"
#include "bindings/classes.hpp"
#include "bindings/docs.hpp"
#include "bindings/frame.hpp"

namespace bindings {
namespace {

constexpr const char* kNewNames[] = {"arm_arc", "coupler_arc", "mirror"};
constexpr const char* kThetaNames[] = {"theta_a", "theta_b"};

constexpr Signature kNew{TORSO_ARM_CLASS ".__new__()", kNewNames, 0};
constexpr Signature kFk{TORSO_ARM_CLASS ".fk()", kThetaNames, 2};
constexpr Signature kDirection{TORSO_ARM_CLASS ".direction()", kThetaNames, 2};
constexpr Signature kIsReachableJoints{TORSO_ARM_CLASS ".is_reachable_joints()", kThetaNames, 2};

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

PyObject* default_left(PyObject* /* static */) {
  return arm_result(arm::kDefaultLeft);
}

PyObject* default_right(PyObject* /* static */) {
  return arm_result(arm::kDefaultRight);
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

// Binds and converts (theta_a, theta_b), then runs forward kinematics on the receiver's arm;
// null with an exception set when the arguments are wrong.
template <typename MapOutcome>
PyObject* forward_query(const Signature& signature, PyObject* self, PyObject* const* args,
                        Py_ssize_t nargsf, PyObject* kwnames, MapOutcome&& map_outcome) {
  Slots slots;
  if (!bind_vector(signature, args, nargsf, kwnames, slots)) return nullptr;
  Receiver receiver;
  if (!receiver.take(self, process.arm_type)) return nullptr;
  double theta_a = 0.0;
  double theta_b = 0.0;
  if (!convert_argument<convert_float>(signature, slots, 0, &theta_a) ||
      !convert_argument<convert_float>(signature, slots, 1, &theta_b)) {
    return nullptr;
  }
  return map_outcome(arm::forward_kinematics(ArmObject_CAST(self)->geometry, theta_a, theta_b));
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
  return forward_query(kIsReachableJoints, self, args, nargsf, kwnames,
                       [](const arm::FkResult& outcome) {
                         return bool_result(std::holds_alternative<arm::FkSolution>(outcome));
                       });
}

/* ---------------------------------------------------------------------------------------- */
/* Class object                                                                              */

PyMethodDef arm_methods[] = {
    noargs_method<default_left>(
        "default_left", "default_left()" TORSO_SIGNATURE_END TORSO_DOC_DEFAULT_LEFT, METH_STATIC),
    noargs_method<default_right>("default_right",
                                 "default_right()" TORSO_SIGNATURE_END TORSO_DOC_DEFAULT_RIGHT,
                                 METH_STATIC),
    fastcall_method<fk>("fk", "fk($self, theta_a, theta_b)" TORSO_SIGNATURE_END TORSO_DOC_ARM_FK),
    fastcall_method<direction>(
        "direction", "direction($self, theta_a, theta_b)" TORSO_SIGNATURE_END TORSO_DOC_DIRECTION),
    fastcall_method<is_reachable_joints>(
        "is_reachable_joints", "is_reachable_joints($self, theta_a, theta_b)" TORSO_SIGNATURE_END
                                   TORSO_DOC_IS_REACHABLE_JOINTS),
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

PyType_Spec arm_spec = {
    TORSO_MODULE_NAME "." TORSO_ARM_CLASS, sizeof(ArmObject), 0, Py_TPFLAGS_DEFAULT, arm_slots,
};

}  // namespace

PyTypeObject* create_arm_type() {
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&arm_spec));
}

PyObject* arm_result(const arm::SphericalLinkGeometry& geometry) {
  PyTypeObject* type = process.arm_type;
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return api_failure();
  ArmObject_CAST(self)->geometry = geometry;
  return self;
}

}  // namespace bindings
