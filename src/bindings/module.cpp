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

// The module's __all__ list, made empty when the module has none yet.
Owned all_list(PyObject* module) {
  Owned all(PyObject_GetAttrString(module, "__all__"));
  if (all || !PyErr_ExceptionMatches(PyExc_AttributeError)) return all;
  PyErr_Clear();
  all = Owned(PyList_New(0));
  if (all && PyObject_SetAttrString(module, "__all__", all.get()) < 0) return Owned();
  return all;
}

// Creates the class object once, appends its name to __all__ and sets it as an attribute.
bool add_class(PyObject* module, const char* name, PyTypeObject** type, PyTypeObject* (*create)()) {
  if (*type == nullptr) {
    *type = create();
    if (*type == nullptr) return false;
  }
  const Owned all = all_list(module);
  if (!all) return false;
  if (!PyList_Check(all.get())) {
    PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
    return false;
  }
  const Owned text(PyUnicode_FromString(name));
  if (!text || PyList_Append(all.get(), text.get()) < 0) return false;
  return PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(*type)) == 0;
}

PyObject* init_module() {
  if (!bind_interpreter()) return nullptr;
  if (process.module != nullptr) return Py_NewRef(process.module);
  if (!make_internal_fault_class()) return nullptr;

  Owned module(PyModule_Create2(&module_def, PYTHON_API_VERSION));
  if (!module || !add_class(module.get(), TORSO_ARM_CLASS, &process.arm_type, create_arm_type) ||
      !add_class(module.get(), TORSO_NECK_CLASS, &process.neck_type, create_neck_type)) {
    return nullptr;
  }
  process.module = Py_NewRef(module.get());
  return module.release();
}

}  // namespace
}  // namespace vornalt_torso_kinematics::bindings

PyMODINIT_FUNC PyInit_vornalt_torso_kinematics(void) {
  namespace bindings = vornalt_torso_kinematics::bindings;
  return bindings::guarded(bindings::init_module);
}
