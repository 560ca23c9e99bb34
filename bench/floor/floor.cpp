// torso_floor: the cheapest possible stand-in for each method of the two kinematics classes,
// used by bench/bench_calls.py as the floor under a real call. Each function has the real
// method's calling convention (vector call with keywords on a heap type, tp_new for the
// constructors), takes the same arguments, reads them the cheapest way (the double inside an
// exact float, the items of an exact list or tuple) and returns a fresh result of the same
// shape built from constants. Nothing is computed, and errors are reported only so that a
// wrong call cannot pass silently. Built for the benchmark alone; never installed.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace {

// Where the converted arguments go, so that reading them is not optimised away.
volatile double sink = 0.0;

struct FloorArm {
  PyObject_HEAD double arm_arc;
  double coupler_arc;
  unsigned char branch;
  unsigned char mirror;
};

PyTypeObject* arm_type = nullptr;

PyObject* wrong_arguments() {
  PyErr_SetString(PyExc_TypeError, "wrong arguments");
  return nullptr;
}

// The number of arguments of a vector call, keywords included.
Py_ssize_t total_arguments(Py_ssize_t nargsf, PyObject* kwnames) {
  return PyVectorcall_NARGS(nargsf) + (kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0);
}

bool read_float(PyObject* object) {
  if (PyFloat_CheckExact(object)) {
    sink = PyFloat_AS_DOUBLE(object);
    return true;
  }
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) return false;
  sink = value;
  return true;
}

// Three floats from an exact list or tuple, else through the sequence protocol.
bool read_vector(PyObject* object) {
  if (PyList_CheckExact(object) && PyList_GET_SIZE(object) == 3) {
    return read_float(PyList_GET_ITEM(object, 0)) && read_float(PyList_GET_ITEM(object, 1)) &&
           read_float(PyList_GET_ITEM(object, 2));
  }
  if (PyTuple_CheckExact(object) && PyTuple_GET_SIZE(object) == 3) {
    return read_float(PyTuple_GET_ITEM(object, 0)) && read_float(PyTuple_GET_ITEM(object, 1)) &&
           read_float(PyTuple_GET_ITEM(object, 2));
  }
  if (PySequence_Size(object) != 3) {
    if (!PyErr_Occurred()) wrong_arguments();
    return false;
  }
  for (Py_ssize_t i = 0; i < 3; ++i) {
    PyObject* item = PySequence_GetItem(object, i);
    if (item == nullptr) return false;
    const bool read = read_float(item);
    Py_DECREF(item);
    if (!read) return false;
  }
  return true;
}

bool read_row(PyObject* matrix, Py_ssize_t i) {
  if (PyList_CheckExact(matrix)) return read_vector(PyList_GET_ITEM(matrix, i));
  if (PyTuple_CheckExact(matrix)) return read_vector(PyTuple_GET_ITEM(matrix, i));
  PyObject* row = PySequence_GetItem(matrix, i);
  if (row == nullptr) return false;
  const bool read = read_vector(row);
  Py_DECREF(row);
  return read;
}

bool read_matrix(PyObject* object) {
  if (PySequence_Size(object) != 3) {
    if (!PyErr_Occurred()) wrong_arguments();
    return false;
  }
  return read_row(object, 0) && read_row(object, 1) && read_row(object, 2);
}

/* Results of the real shapes, from constants, made fresh on every call. */

PyObject* float_list(double x, double y, double z) {
  PyObject* list = PyList_New(3);
  if (list == nullptr) return nullptr;
  const double values[3] = {x, y, z};
  for (Py_ssize_t i = 0; i < 3; ++i) {
    PyObject* item = PyFloat_FromDouble(values[i]);
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, i, item);
  }
  return list;
}

PyObject* matrix_result() {
  PyObject* matrix = PyList_New(3);
  if (matrix == nullptr) return nullptr;
  for (Py_ssize_t i = 0; i < 3; ++i) {
    PyObject* row = float_list(0.25, -0.5, 0.75);
    if (row == nullptr) {
      Py_DECREF(matrix);
      return nullptr;
    }
    PyList_SET_ITEM(matrix, i, row);
  }
  return matrix;
}

PyObject* float_tuple(Py_ssize_t size) {
  PyObject* tuple = PyTuple_New(size);
  if (tuple == nullptr) return nullptr;
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyObject* item = PyFloat_FromDouble(0.125 * static_cast<double>(i + 1));
    if (item == nullptr) {
      Py_DECREF(tuple);
      return nullptr;
    }
    PyTuple_SET_ITEM(tuple, i, item);
  }
  return tuple;
}

PyObject* new_arm() {
  PyObject* self = arm_type->tp_alloc(arm_type, 0);
  if (self == nullptr) return nullptr;
  auto* arm = reinterpret_cast<FloorArm*>(self);
  arm->arm_arc = 0.7;
  arm->coupler_arc = 0.5;
  arm->branch = 0;
  arm->mirror = 0;
  return self;
}

/* The arm class. */

PyObject* arm_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  const Py_ssize_t given = PyTuple_GET_SIZE(args);
  if (given > 3 || (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0)) return wrong_arguments();
  double arcs[2] = {0.7, 0.5};
  for (Py_ssize_t i = 0; i < given && i < 2; ++i) {
    PyObject* item = PyTuple_GET_ITEM(args, i);
    if (!PyFloat_CheckExact(item)) return wrong_arguments();
    arcs[i] = PyFloat_AS_DOUBLE(item);
  }
  unsigned char mirror = 0;
  if (given == 3) {
    PyObject* item = PyTuple_GET_ITEM(args, 2);
    if (item != Py_True && item != Py_False) return wrong_arguments();
    mirror = item == Py_True;
  }
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  auto* arm = reinterpret_cast<FloorArm*>(self);
  arm->arm_arc = arcs[0];
  arm->coupler_arc = arcs[1];
  arm->branch = 0;
  arm->mirror = mirror;
  return self;
}

void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

// (theta_a, theta_b): two floats.
bool read_joint_pair(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  if (total_arguments(nargsf, kwnames) != 2) {
    wrong_arguments();
    return false;
  }
  return read_float(args[0]) && read_float(args[1]);
}

PyObject* arm_fk(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  if (!read_joint_pair(args, nargsf, kwnames)) return nullptr;
  return matrix_result();
}

PyObject* arm_direction(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  if (!read_joint_pair(args, nargsf, kwnames)) return nullptr;
  return float_list(0.25, -0.5, 0.75);
}

PyObject* arm_is_reachable_joints(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                  PyObject* kwnames) {
  if (!read_joint_pair(args, nargsf, kwnames)) return nullptr;
  Py_RETURN_TRUE;
}

PyObject* arm_ik(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  if (total_arguments(nargsf, kwnames) != 1) return wrong_arguments();
  if (!read_matrix(args[0])) return nullptr;
  return float_tuple(2);
}

PyObject* arm_is_reachable_orientation(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                       PyObject* kwnames) {
  if (total_arguments(nargsf, kwnames) != 1) return wrong_arguments();
  if (!read_matrix(args[0])) return nullptr;
  Py_RETURN_TRUE;
}

// (v3, near=None): the keyword, if any, can only be near.
PyObject* arm_ik_from_direction(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                PyObject* kwnames) {
  const Py_ssize_t total = total_arguments(nargsf, kwnames);
  if (total < 1 || total > 2) return wrong_arguments();
  if (!read_vector(args[0])) return nullptr;
  if (total == 2 && args[1] != Py_None) {
    PyObject* near = args[1];
    if (!PyTuple_Check(near) || PyTuple_GET_SIZE(near) != 2) return wrong_arguments();
    if (!read_float(PyTuple_GET_ITEM(near, 0)) || !read_float(PyTuple_GET_ITEM(near, 1))) {
      return nullptr;
    }
  }
  return float_tuple(2);
}

PyObject* arm_is_reachable_direction(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                     PyObject* kwnames) {
  if (total_arguments(nargsf, kwnames) != 1) return wrong_arguments();
  if (!read_vector(args[0])) return nullptr;
  Py_RETURN_TRUE;
}

PyObject* arm_from_json(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  if (total_arguments(nargsf, kwnames) != 1 || !PyUnicode_Check(args[0])) {
    return wrong_arguments();
  }
  Py_ssize_t size;
  const char* bytes = PyUnicode_AsUTF8AndSize(args[0], &size);
  if (bytes == nullptr) return nullptr;
  sink = static_cast<double>(size);
  return new_arm();
}

PyObject* arm_default(PyObject*, PyObject*) {
  return new_arm();
}

PyObject* arm_arc(PyObject*, PyObject*) {
  return PyFloat_FromDouble(0.7);
}

PyObject* arm_coupler_arc(PyObject*, PyObject*) {
  return PyFloat_FromDouble(0.5);
}

PyObject* arm_mirror(PyObject*, PyObject*) {
  Py_RETURN_FALSE;
}

template <PyObject* (*Function)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
PyMethodDef fastcall(const char* name, int extra_flags = 0) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function)),
          METH_FASTCALL | METH_KEYWORDS | extra_flags, nullptr};
}

PyMethodDef arm_methods[] = {
    {"default_left", arm_default, METH_NOARGS | METH_STATIC, nullptr},
    {"default_right", arm_default, METH_NOARGS | METH_STATIC, nullptr},
    fastcall<arm_from_json>("from_json", METH_STATIC),
    fastcall<arm_fk>("fk"),
    fastcall<arm_ik>("ik"),
    fastcall<arm_ik_from_direction>("ik_from_direction"),
    fastcall<arm_direction>("direction"),
    fastcall<arm_is_reachable_joints>("is_reachable_joints"),
    fastcall<arm_is_reachable_orientation>("is_reachable_orientation"),
    fastcall<arm_is_reachable_direction>("is_reachable_direction"),
    {"arm_arc", arm_arc, METH_NOARGS, nullptr},
    {"coupler_arc", arm_coupler_arc, METH_NOARGS, nullptr},
    {"mirror", arm_mirror, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot arm_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&arm_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_methods, arm_methods},
    {0, nullptr},
};

PyType_Spec arm_spec = {"torso_floor.FloorArm", sizeof(FloorArm), 0, Py_TPFLAGS_DEFAULT, arm_slots};

/* The neck class. */

PyObject* neck_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  if (PyTuple_GET_SIZE(args) != 0 || (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0)) {
    return wrong_arguments();
  }
  return type->tp_alloc(type, 0);
}

PyObject* neck_fk(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  if (total_arguments(nargsf, kwnames) != 1) return wrong_arguments();
  if (!read_vector(args[0])) return nullptr;
  return matrix_result();
}

PyObject* neck_ik(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  if (total_arguments(nargsf, kwnames) != 1) return wrong_arguments();
  if (!read_matrix(args[0])) return nullptr;
  return float_tuple(3);
}

PyMethodDef neck_methods[] = {
    fastcall<neck_fk>("fk"),
    fastcall<neck_ik>("ik"),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot neck_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&neck_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_methods, neck_methods},
    {0, nullptr},
};

PyType_Spec neck_spec = {"torso_floor.FloorNeck", sizeof(PyObject), 0, Py_TPFLAGS_DEFAULT,
                         neck_slots};

PyModuleDef floor_module = {
    PyModuleDef_HEAD_INIT, "torso_floor", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_torso_floor() {
  PyObject* module = PyModule_Create(&floor_module);
  if (module == nullptr) return nullptr;
  arm_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&arm_spec));
  if (arm_type == nullptr ||
      PyModule_AddObjectRef(module, "FloorArm", reinterpret_cast<PyObject*>(arm_type)) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  PyObject* neck_type = PyType_FromSpec(&neck_spec);
  if (neck_type == nullptr || PyModule_AddObject(module, "FloorNeck", neck_type) < 0) {
    Py_XDECREF(neck_type);
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
