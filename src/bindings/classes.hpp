// The two classes the module publishes: their instance layouts and how their class objects
// are made.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <vornalt_torso_kinematics/arm/geometry.hpp>

namespace vornalt_torso_kinematics::bindings {

// An arm instance: the object header followed by its geometry, written once by a constructor.
struct ArmObject {
  PyObject_HEAD arm::SphericalLinkGeometry geometry;
};

#define ArmObject_CAST(op) (reinterpret_cast<vornalt_torso_kinematics::bindings::ArmObject*>(op))

// A neck instance is a bare object header.
struct NeckObject {
  PyObject_HEAD
};

// The classes' PyType_Spec records; their addresses identify the classes in stub records.
extern PyType_Spec arm_spec;
extern PyType_Spec neck_spec;

// Creates the arm class object; null with an exception set on failure.
PyTypeObject* create_arm_type();

// Creates the neck class object; null with an exception set on failure.
PyTypeObject* create_neck_type();

// Frees an instance of either class and releases its reference to its heap type.
inline void dealloc_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

}  // namespace vornalt_torso_kinematics::bindings
