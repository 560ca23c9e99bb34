// VornaltNeckKinematics: yaw-pitch-roll kinematics of the head.

#include "bindings/classes.hpp"
#include "bindings/docs.hpp"
#include "bindings/frame.hpp"

namespace bindings {
namespace {

constexpr Signature kNew{TORSO_NECK_CLASS ".__new__()", {}, 0};

PyObject* neck_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  Slots slots;
  if (!bind_tuple(kNew, args, kwargs, slots)) return nullptr;
  return type->tp_alloc(type, 0);
}

PyMethodDef neck_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot neck_slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_new, reinterpret_cast<void*>(&new_entry<neck_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_instance)},
    {Py_tp_doc, const_cast<char*>(TORSO_NECK_CLASS TORSO_NECK_NEW_SIGNATURE TORSO_SIGNATURE_END)},
    {Py_tp_methods, neck_methods},
    {0, nullptr},
};

PyType_Spec neck_spec = {
    TORSO_MODULE_NAME "." TORSO_NECK_CLASS, sizeof(NeckObject), 0, Py_TPFLAGS_DEFAULT, neck_slots,
};

}  // namespace

PyTypeObject* create_neck_type() {
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&neck_spec));
}

}  // namespace bindings
