// VornaltNeckKinematics: yaw-pitch-roll kinematics of the head.

#include <variant>

#include <vornalt_torso_kinematics/bindings/classes.hpp>
#include <vornalt_torso_kinematics/bindings/docs.hpp>
#include <vornalt_torso_kinematics/bindings/frame.hpp>
#include <vornalt_torso_kinematics/neck/neck.hpp>

namespace vornalt_torso_kinematics::bindings {
namespace {

constexpr const char* kJointsNames[] = {"joints"};
constexpr const char* kRNames[] = {"r"};

constexpr Signature kNew{TORSO_NECK_CLASS ".__new__()", {}, 0};
constexpr Signature kFk{TORSO_NECK_CLASS ".fk()", kJointsNames, 1};
constexpr Signature kIk{TORSO_NECK_CLASS ".ik()", kRNames, 1};

PyObject* neck_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  Slots slots;
  if (!bind_tuple(kNew, args, kwargs, slots)) return nullptr;
  return type->tp_alloc(type, 0);
}

PyObject* fk(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  Slots slots;
  Receiver receiver;
  if (!begin_method(kFk, process.neck_type, self, args, nargsf, kwnames, slots, receiver)) {
    return nullptr;
  }
  std::array<double, 3> joints;
  if (!convert_argument<convert_triple>(kFk, slots, 0, &joints)) return nullptr;
  return matrix_result(neck::fk({joints[0], joints[1], joints[2]}));
}

PyObject* ik(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  Slots slots;
  Receiver receiver;
  if (!begin_method(kIk, process.neck_type, self, args, nargsf, kwnames, slots, receiver)) {
    return nullptr;
  }
  Mat3 r;
  if (!convert_argument<convert_matrix>(kIk, slots, 0, &r)) return nullptr;
  const neck::IkResult outcome = neck::ik(r);
  if (const auto* joints = std::get_if<neck::JointTriple>(&outcome)) {
    return triple_result({joints->yaw, joints->pitch, joints->roll});
  }
  return raise_message(PyExc_ValueError, neck::GimbalLock::message);
}

PyMethodDef neck_methods[] = {
    fastcall_method<fk>("fk", "fk($self, joints)" TORSO_SIGNATURE_END TORSO_DOC_NECK_FK),
    fastcall_method<ik>("ik", "ik($self, r)" TORSO_SIGNATURE_END TORSO_DOC_NECK_IK),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot neck_slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_new, reinterpret_cast<void*>(&plain_new_entry<neck_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_instance)},
    {Py_tp_doc, const_cast<char*>(TORSO_NECK_CLASS TORSO_NECK_NEW_SIGNATURE TORSO_SIGNATURE_END)},
    {Py_tp_methods, neck_methods},
    {0, nullptr},
};

}  // namespace

PyType_Spec neck_spec = {
    TORSO_MODULE_NAME "." TORSO_NECK_CLASS, sizeof(NeckObject), 0, Py_TPFLAGS_DEFAULT, neck_slots,
};

PyTypeObject* create_neck_type() {
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&neck_spec));
}

}  // namespace vornalt_torso_kinematics::bindings
