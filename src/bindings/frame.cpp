#include <vornalt_torso_kinematics/bindings/frame.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <vornalt_torso_kinematics/bindings/docs.hpp>

namespace vornalt_torso_kinematics::bindings {

ProcessObjects process = {nullptr, nullptr, nullptr, nullptr};

/* ---------------------------------------------------------------------------------------- */
/* Faults                                                                                    */

void fatal(const char* description) {
  std::fprintf(stderr, TORSO_MODULE_NAME ": uncaught panic at ffi boundary: %s\n", description);
  std::fflush(stderr);
  std::abort();
}

PyObject* raise_message(PyObject* type, const char* message) {
  PyErr_SetString(type, message);
  return nullptr;
}

bool make_internal_fault_class() {
  if (process.internal_fault != nullptr) return true;
  process.internal_fault = PyErr_NewExceptionWithDoc(
      TORSO_MODULE_NAME ".InternalFault",
      "A state that no input should reach; the module is faulty, not the caller.",
      PyExc_BaseException, nullptr);
  return process.internal_fault != nullptr;
}

PyObject* internal_fault(const char* description) {
  if (!make_internal_fault_class()) fatal(description);
  // An error that was pending stays visible as the fault's context. Should even the message
  // not fit in memory, the interpreter's MemoryError is raised instead.
  PyObject* pending = PyErr_GetRaisedException();
  PyErr_SetString(process.internal_fault, description);
  if (pending != nullptr) {
    PyObject* fault = PyErr_GetRaisedException();
    PyException_SetContext(fault, pending);  // takes over the reference to `pending`
    PyErr_SetRaisedException(fault);
  }
  return nullptr;
}

namespace {

// Writes the pending error to standard error as one line and clears it. None of Python's code
// runs: not sys.excepthook, not sys.stderr's methods, and no sys.last_* attribute is set.
void write_pending_error() {
  const Owned error(PyErr_GetRaisedException());
  if (!error) return;
  // The message is shown when it is the error's only argument and a plain str.
  const char* text = nullptr;
  const Owned args(PyException_GetArgs(error.get()));
  if (args && PyTuple_GET_SIZE(args.get()) == 1 &&
      PyUnicode_CheckExact(PyTuple_GET_ITEM(args.get(), 0))) {
    text = PyUnicode_AsUTF8(PyTuple_GET_ITEM(args.get(), 0));
    if (text == nullptr) PyErr_Clear();
  }
  std::fprintf(stderr, TORSO_MODULE_NAME ": Python API call failed: %s%s%s\n",
               Py_TYPE(error.get())->tp_name, text != nullptr ? ": " : "",
               text != nullptr ? text : "");
  std::fflush(stderr);
}

}  // namespace

PyObject* api_failure() {
  write_pending_error();
  return internal_fault("Python API call failed");
}

PyObject* caught_exception(const char* what) noexcept {
  return internal_fault(what);
}

PyObject* checked_result(PyObject* result) {
  if (result == nullptr) {
    if (PyErr_Occurred()) return nullptr;
    return internal_fault("an entry point failed without setting an exception");
  }
  if (PyErr_Occurred()) {
    Py_DECREF(result);
    return internal_fault("an entry point returned a value with an exception set");
  }
  return result;
}

/* ---------------------------------------------------------------------------------------- */
/* Argument binding                                                                          */

namespace {

// Raises the TypeError for more positional arguments than parameters.
bool too_many_positional(const Signature& signature, Py_ssize_t given) {
  const char* verb = given == 1 ? "was" : "were";
  const auto count = static_cast<Py_ssize_t>(signature.names.size());
  if (signature.required == signature.names.size()) {
    PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given",
                 signature.qualified_name, count, given, verb);
  } else {
    PyErr_Format(PyExc_TypeError, "%s takes from %zd to %zd positional arguments but %zd %s given",
                 signature.qualified_name, static_cast<Py_ssize_t>(signature.required), count,
                 given, verb);
  }
  return false;
}

// Places one keyword argument into its parameter's slot.
bool bind_keyword(const Signature& signature, PyObject* keyword, PyObject* value, Slots& slots) {
  for (std::size_t i = 0; i < signature.names.size(); ++i) {
    if (!PyUnicode_Check(keyword) ||
        PyUnicode_CompareWithASCIIString(keyword, signature.names[i]) != 0) {
      continue;
    }
    if (slots[i] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%U'",
                   signature.qualified_name, keyword);
      return false;
    }
    slots[i] = value;
    return true;
  }
  if (PyUnicode_Check(keyword)) {
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
                 signature.qualified_name, keyword);
  } else {
    // The repr is the caller's code, which may drop the key from the dictionary it came from.
    const Owned held = Owned::borrowed(keyword);
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%R'",
                 signature.qualified_name, held.get());
  }
  return false;
}

// Raises the TypeError that lists the required parameters left without an argument.
bool missing_required(const Signature& signature, const Slots& slots) {
  std::size_t missing[kMaxParameters];
  std::size_t count = 0;
  for (std::size_t i = 0; i < signature.required; ++i) {
    if (slots[i] == nullptr) missing[count++] = i;
  }
  if (count == 0) return true;

  // 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
  char list[256];
  std::size_t used = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const char* separator = "";
    if (k > 0) separator = count == 2 ? " and " : (k + 1 == count ? ", and " : ", ");
    const int written = std::snprintf(list + used, sizeof list - used, "%s'%s'", separator,
                                      signature.names[missing[k]]);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof list - used) {
      internal_fault("the list of missing arguments does not fit its buffer");
      return false;
    }
    used += static_cast<std::size_t>(written);
  }
  PyErr_Format(PyExc_TypeError, "%s missing %zd required positional %s: %s",
               signature.qualified_name, static_cast<Py_ssize_t>(count),
               count == 1 ? "argument" : "arguments", list);
  return false;
}

// Checks the positional count and places the positional arguments.
bool bind_positional(const Signature& signature, PyObject* const* positional, Py_ssize_t given,
                     Slots& slots) {
  slots.fill(nullptr);
  if (given > static_cast<Py_ssize_t>(signature.names.size())) {
    return too_many_positional(signature, given);
  }
  for (Py_ssize_t i = 0; i < given; ++i) slots[static_cast<std::size_t>(i)] = positional[i];
  return true;
}

}  // namespace

bool bind_vector_in_full(const Signature& signature, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames, Slots& slots) {
  const Py_ssize_t given = PyVectorcall_NARGS(nargsf);
  if (!bind_positional(signature, args, given, slots)) return false;
  if (kwnames != nullptr) {
    const Py_ssize_t keywords = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
      if (!bind_keyword(signature, PyTuple_GET_ITEM(kwnames, k), args[given + k], slots)) {
        return false;
      }
    }
  }
  return missing_required(signature, slots);
}

bool bind_tuple_in_full(const Signature& signature, PyObject* args, PyObject* kwargs,
                        Slots& slots) {
  const Py_ssize_t given = PyTuple_GET_SIZE(args);
  if (!bind_positional(signature, &PyTuple_GET_ITEM(args, 0), given, slots)) return false;
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* keyword;
    PyObject* value;
    while (PyDict_Next(kwargs, &position, &keyword, &value)) {
      if (!bind_keyword(signature, keyword, value, slots)) return false;
    }
  }
  if (!missing_required(signature, slots)) return false;
  if (kwargs != nullptr) slots.hold();
  return true;
}

/* ---------------------------------------------------------------------------------------- */
/* Argument converters                                                                       */

namespace {

// Raises TypeError "'<type>' object cannot be converted to '<target>'".
bool cannot_convert(PyObject* object, const char* target) {
  const Owned name(PyType_GetQualName(Py_TYPE(object)));
  if (!name) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError,
                 "'<failed to extract type name>' object cannot be converted to '%s'", target);
    return false;
  }
  PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name.get(), target);
  return false;
}

// Whether a type is numpy's boolean scalar type, by its module and name: 1 if it is, 0 if it
// is not, -1 with the error set when reading them raised. A type without a module is not
// numpy's; any other error (a KeyboardInterrupt raised by a metaclass, a MemoryError) passes.
int is_numpy_bool_type(PyTypeObject* type) {
  PyObject* found = nullptr;
  if (PyObject_GetOptionalAttrString(reinterpret_cast<PyObject*>(type), "__module__", &found) < 0) {
    return -1;
  }
  const Owned module(found);
  if (!module || !PyUnicode_Check(module.get()) ||
      PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
    return 0;
  }
  const Owned name(PyType_GetName(type));
  if (!name) return -1;
  return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
         PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

// Whether the type of `object`, held for the question, is numpy's boolean; then its truth
// value through its number slot.
bool numpy_truth(PyObject* object, PyTypeObject* type, bool* out) {
  const int numpy_bool = is_numpy_bool_type(type);
  if (numpy_bool < 0) return false;
  if (numpy_bool == 0) return cannot_convert(object, "PyBool");
  const inquiry truth = type->tp_as_number != nullptr ? type->tp_as_number->nb_bool : nullptr;
  if (truth == nullptr) {
    PyErr_Format(PyExc_TypeError, "object of type '%S' does not define a '__bool__' conversion",
                 reinterpret_cast<PyObject*>(type));
    return false;
  }
  const int value = truth(object);
  if (value < 0) return false;
  *out = value != 0;
  return true;
}

// A new reference to object[i], fetched with an integer index object. An exact list or tuple
// is read directly, which is what indexing it would do: neither can override item access.
[[gnu::always_inline]] inline PyObject* item_at(PyObject* object, std::size_t i) {
  const auto index = static_cast<Py_ssize_t>(i);
  // A list may have shrunk while an earlier item was converted; indexing then raises.
  if (PyList_CheckExact(object) && index < PyList_GET_SIZE(object)) {
    return Py_NewRef(PyList_GET_ITEM(object, index));
  }
  if (PyTuple_CheckExact(object)) return Py_NewRef(PyTuple_GET_ITEM(object, index));
  const Owned key(PyLong_FromSsize_t(index));
  return key ? PyObject_GetItem(object, key.get()) : nullptr;
}

// Checks that `object` is a sequence of length 3 and converts its items 0, 1, 2 in order with
// `convert_item(item, index)`.
template <typename ConvertItem>
bool convert_three(PyObject* object, ConvertItem&& convert_item) {
  Py_ssize_t length;
  // An exact list or tuple is a sequence whose length is its size; asking the protocols
  // would give the same answers.
  if (PyList_CheckExact(object)) {
    length = PyList_GET_SIZE(object);
  } else if (PyTuple_CheckExact(object)) {
    length = PyTuple_GET_SIZE(object);
  } else {
    if (!PySequence_Check(object)) return cannot_convert(object, "Sequence");
    length = PyObject_Size(object);
    if (length < 0) return false;
  }
  if (length != 3) {
    PyErr_Format(PyExc_ValueError, "expected a sequence of length 3 (got %zd)", length);
    return false;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    const Owned item(item_at(object, i));
    if (!item || !convert_item(item.get(), i)) return false;
  }
  return true;
}

}  // namespace

bool convert_float(PyObject* object, double* out) {
  if (PyFloat_CheckExact(object)) {
    *out = PyFloat_AS_DOUBLE(object);
    return true;
  }
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) return false;
  *out = value;
  return true;
}

bool convert_bool(PyObject* object, bool* out) {
  if (object == Py_True || object == Py_False) {
    *out = object == Py_True;
    return true;
  }
  // A metaclass's code that reads the type's module may assign the object another class,
  // which could free this one while it is looked at: it is held until the answer is known.
  const Owned type = Owned::borrowed(reinterpret_cast<PyObject*>(Py_TYPE(object)));
  return numpy_truth(object, reinterpret_cast<PyTypeObject*>(type.get()), out);
}

namespace {

// Reads three exact floats straight from their container; false, having changed nothing,
// when any item is something else. No Python code runs, so the items cannot change under it.
bool read_exact_floats(PyObject* const* items, std::array<double, 3>* out) {
  if (!PyFloat_CheckExact(items[0]) || !PyFloat_CheckExact(items[1]) ||
      !PyFloat_CheckExact(items[2])) {
    return false;
  }
  (*out)[0] = PyFloat_AS_DOUBLE(items[0]);
  (*out)[1] = PyFloat_AS_DOUBLE(items[1]);
  (*out)[2] = PyFloat_AS_DOUBLE(items[2]);
  return true;
}

}  // namespace

bool convert_triple(PyObject* object, std::array<double, 3>* out) {
  // A list or tuple of three exact floats: what the general path below would read, without
  // taking a reference to each item.
  if (PyList_CheckExact(object) && PyList_GET_SIZE(object) == 3 &&
      read_exact_floats(&PyList_GET_ITEM(object, 0), out)) {
    return true;
  }
  if (PyTuple_CheckExact(object) && PyTuple_GET_SIZE(object) == 3 &&
      read_exact_floats(&PyTuple_GET_ITEM(object, 0), out)) {
    return true;
  }
  return convert_three(
      object, [out](PyObject* item, std::size_t i) { return convert_float(item, &(*out)[i]); });
}

bool convert_vector(PyObject* object, Vec3* out) {
  std::array<double, 3> items;
  if (!convert_triple(object, &items)) return false;
  *out = Vec3{items[0], items[1], items[2]};
  return true;
}

bool convert_matrix(PyObject* object, Mat3* out) {
  return convert_three(
      object, [out](PyObject* row, std::size_t i) { return convert_triple(row, &(*out)[i]); });
}

bool convert_optional_pair(PyObject* object, std::optional<JointPair>* out) {
  if (object == Py_None) {
    out->reset();
    return true;
  }
  if (!PyTuple_Check(object)) return cannot_convert(object, "PyTuple");
  const Py_ssize_t length = PyTuple_GET_SIZE(object);
  if (length != 2) {
    PyErr_Format(PyExc_ValueError, "expected tuple of length 2, but got tuple of length %zd",
                 length);
    return false;
  }
  JointPair pair;
  if (!convert_float(PyTuple_GET_ITEM(object, 0), &pair.theta_a) ||
      !convert_float(PyTuple_GET_ITEM(object, 1), &pair.theta_b)) {
    return false;
  }
  *out = pair;
  return true;
}

bool convert_string(PyObject* object, std::string_view* out) {
  if (!PyUnicode_Check(object)) return cannot_convert(object, "PyString");
  Py_ssize_t size;
  const char* bytes = PyUnicode_AsUTF8AndSize(object, &size);
  if (bytes == nullptr) return false;
  *out = std::string_view(bytes, static_cast<std::size_t>(size));
  return true;
}

void name_argument_error(const char* parameter) {
  Owned error(PyErr_GetRaisedException());
  if (!error || !Py_IS_TYPE(error.get(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
    PyErr_SetRaisedException(error.release());
    return;
  }
  const Owned message(PyObject_Str(error.get()));
  if (!message) {
    // The message is the caller's object, and its __str__ failed: that error is the caller's
    // too, and passes through with the converter's error as its context.
    PyObject* failure = PyErr_GetRaisedException();
    if (failure != error.get()) PyException_SetContext(failure, error.release());  // steals it
    PyErr_SetRaisedException(failure);
    return;
  }
  const Owned text(PyUnicode_FromFormat("argument '%s': %U", parameter, message.get()));
  if (!text) {
    api_failure();
    return;
  }
  Owned renamed(PyObject_CallOneArg(PyExc_TypeError, text.get()));
  if (!renamed) {
    api_failure();
    return;
  }
  // PyException_SetCause takes over the reference that PyException_GetCause returns.
  PyException_SetCause(renamed.get(), PyException_GetCause(error.get()));
  PyErr_SetRaisedException(renamed.release());
}

/* ---------------------------------------------------------------------------------------- */
/* Receivers                                                                                 */

bool Receiver::refuse(PyObject* self, PyTypeObject* type) {
  // A heap type's name is "module.Class"; messages name the class alone.
  const char* dot = std::strrchr(type->tp_name, '.');
  return cannot_convert(self == nullptr ? Py_None : self, dot != nullptr ? dot + 1 : type->tp_name);
}

/* ---------------------------------------------------------------------------------------- */
/* Result converters                                                                         */

namespace {

// A new list of `N` new items made by `make(i)`.
template <std::size_t N, typename Make>
PyObject* list_of(Make&& make) {
  Owned list(PyList_New(N));
  if (!list) return api_failure();
  for (std::size_t i = 0; i < N; ++i) {
    PyObject* item = make(i);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

// A new tuple of new floats.
template <std::size_t N>
PyObject* float_tuple(const std::array<double, N>& values) {
  Owned tuple(PyTuple_New(N));
  if (!tuple) return api_failure();
  for (std::size_t i = 0; i < N; ++i) {
    PyObject* item = float_result(values[i]);
    if (item == nullptr) return nullptr;
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
  }
  return tuple.release();
}

// A new list of three new floats.
PyObject* float_list(const std::array<double, 3>& values) {
  return list_of<3>([&](std::size_t i) { return float_result(values[i]); });
}

}  // namespace

PyObject* vector_result(const Vec3& value) {
  return float_list({value.x, value.y, value.z});
}

PyObject* matrix_result(const Mat3& value) {
  Owned rows(PyList_New(3));
  if (!rows) return api_failure();
  // Each row joins the matrix before it is filled, so that releasing the matrix frees
  // everything made so far; a list frees the slots it has not been given yet as empty ones.
  for (Py_ssize_t i = 0; i < 3; ++i) {
    PyObject* row = PyList_New(3);
    if (row == nullptr) return api_failure();
    PyList_SET_ITEM(rows.get(), i, row);
    for (Py_ssize_t j = 0; j < 3; ++j) {
      PyObject* item =
          PyFloat_FromDouble(value[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)]);
      if (item == nullptr) return api_failure();
      PyList_SET_ITEM(row, j, item);
    }
  }
  return rows.release();
}

PyObject* pair_result(const JointPair& value) {
  return float_tuple<2>({value.theta_a, value.theta_b});
}

PyObject* triple_result(const std::array<double, 3>& value) {
  return float_tuple<3>(value);
}

}  // namespace vornalt_torso_kinematics::bindings
