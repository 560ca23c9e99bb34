// The module object: single-phase initialisation bound to the first interpreter that
// imports it, publishing the arm and neck classes.

#include <atomic>
#include <cstdint>

#include <vornalt_torso_kinematics/bindings/classes.hpp>
#include <vornalt_torso_kinematics/bindings/docs.hpp>
#include <vornalt_torso_kinematics/bindings/frame.hpp>

namespace vornalt_torso_kinematics::bindings {
namespace {

// The interpreter that first imported the module; -1 until then.
std::atomic<std::int64_t> bound_interpreter{-1};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    TORSO_MODULE_NAME,
    "",       // doc
    0,        // per-module state size
    nullptr,  // methods
    nullptr,  // slots
    nullptr,  // traverse
    nullptr,  // clear
    nullptr,  // free
};

// Binds the module to the current interpreter, or raises ImportError for another one.
bool bind_interpreter() {
  PyInterpreterState* interpreter = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(interpreter);
  if (id == -1) return false;
  std::int64_t expected = -1;
  if (bound_interpreter.compare_exchange_strong(expected, id) || expected == id) return true;
  PyErr_SetString(PyExc_ImportError, TORSO_MODULE_NAME
                  " does not support sub-interpreters: it is bound to the "
                  "first interpreter that imported it");
  return false;
}

// Creates the class object once, appends its name to __all__ and sets it as an attribute.
bool add_class(PyObject* module, const char* name, PyTypeObject** type, PyTypeObject* (*create)()) {
  if (*type == nullptr) {
    *type = create();
    if (*type == nullptr) return false;
  }
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (all == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyList_New(0);
    if (all == nullptr) return false;
    if (PyObject_SetAttrString(module, "__all__", all) < 0) goto error;
  }
  if (!PyList_Check(all)) {
    PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
    goto error;
  }
  {
    PyObject* text = PyUnicode_FromString(name);
    if (text == nullptr) goto error;
    const int appended = PyList_Append(all, text);
    Py_DECREF(text);
    if (appended < 0) goto error;
  }
  Py_DECREF(all);
  return PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(*type)) == 0;

error:
  Py_DECREF(all);
  return false;
}

PyObject* init_module() {
  if (!bind_interpreter()) return nullptr;
  if (process.module != nullptr) return Py_NewRef(process.module);
  if (!make_internal_fault_class()) return nullptr;

  PyObject* module = PyModule_Create2(&module_def, PYTHON_API_VERSION);
  if (module == nullptr) return nullptr;
  if (!add_class(module, TORSO_ARM_CLASS, &process.arm_type, create_arm_type) ||
      !add_class(module, TORSO_NECK_CLASS, &process.neck_type, create_neck_type)) {
    Py_DECREF(module);
    return nullptr;
  }
  process.module = Py_NewRef(module);
  return module;
}

}  // namespace

void dealloc_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

}  // namespace vornalt_torso_kinematics::bindings

PyMODINIT_FUNC PyInit_vornalt_torso_kinematics(void) {
  namespace bindings = vornalt_torso_kinematics::bindings;
  return bindings::guarded(bindings::init_module);
}
