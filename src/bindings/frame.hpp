// The call frame shared by every constructor and method: argument binding, converters from
// Python objects to the kinematics' plain values, result converters back to new Python
// objects, and the report of internal faults. Everything here runs under the interpreter lock.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <exception>
#include <new>
#include <optional>
#include <span>
#include <string_view>

#include <vornalt_torso_kinematics/bindings/owned.hpp>
#include <vornalt_torso_kinematics/core/types.hpp>

namespace vornalt_torso_kinematics::bindings {

using core::JointPair;
using core::Mat3;
using core::Vec3;

/* ---------------------------------------------------------------------------------------- */
/* Process-wide objects                                                                      */

// Objects the module creates once and keeps until the process ends.
struct ProcessObjects {
  PyObject* module;
  PyTypeObject* arm_type;
  PyTypeObject* neck_type;
  PyObject* internal_fault;  // BaseException subclass raised for states no input reaches
};

extern ProcessObjects process;

/* ---------------------------------------------------------------------------------------- */
/* Faults                                                                                    */

// Raises `type` with `message` as its only argument and returns null.
PyObject* raise_message(PyObject* type, const char* message);

// Creates the internal-fault exception class unless it exists; false with an exception set
// when it cannot. Module initialisation calls it, so that reporting a fault when memory has
// run out does not depend on creating a class.
bool make_internal_fault_class();

// Raises the internal-fault exception with `description` and returns null. A fault while
// reporting a fault ends the process.
PyObject* internal_fault(const char* description);

// Reports that an interpreter call failed to make an object: writes the pending error to
// standard error without running any Python code, raises the internal fault "Python API call
// failed" and returns null.
PyObject* api_failure();

// Writes a diagnostic to standard error and ends the process.
[[noreturn]] void fatal(const char* description);

// The internal fault for a C++ exception that reached an entry point.
PyObject* caught_exception(const char* what) noexcept;

// Passes a body's result through when it agrees with the error indicator: a value with no
// exception set, or null with one set. Anything else is an internal fault.
PyObject* checked_result(PyObject* result);

// Runs a body so that no C++ exception leaves it; the body settles the error indicator.
template <typename Body>
PyObject* without_exceptions(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    fatal("out of memory for a working value");
  } catch (const std::exception& error) {
    return caught_exception(error.what());
  } catch (...) {
    return caught_exception("unknown C++ exception");
  }
}

// Runs an entry point's body so that no C++ exception leaves it, and so that it never
// returns a value with an exception set.
template <typename Body>
PyObject* guarded(Body&& body) noexcept {
  return without_exceptions([&] { return checked_result(body()); });
}

/* ---------------------------------------------------------------------------------------- */
/* Argument binding                                                                          */

// The most parameters an entry point has: the size of the argument slots.
inline constexpr std::size_t kMaxParameters = 3;

// One entry point's parameters, all of which may be passed by position or by keyword.
struct Signature {
  // Made at compile time only, so that a parameter list longer than the slots cannot build.
  consteval Signature(const char* qualified_name, std::span<const char* const> names,
                      std::size_t required)
      : qualified_name(qualified_name), names(names), required(required) {
    if (names.size() > kMaxParameters || required > names.size()) {
      throw "a parameter list must fit the argument slots";
    }
  }

  const char* qualified_name;  // as messages name the function: "VornaltArmKinematics.fk()"
  std::span<const char* const> names;
  std::size_t required;  // the leading parameters without a default
};

// One argument per parameter; null where the caller gave none. The arguments of a vector call
// or of an argument tuple belong to the caller, who keeps them until the call returns. The
// values of a keyword dictionary are held here instead: Python code that a converter runs may
// empty the dictionary, which would free them before they are converted.
class Slots {
 public:
  Slots() = default;
  Slots(const Slots&) = delete;
  Slots& operator=(const Slots&) = delete;
  ~Slots() {
    if (!held_) return;
    for (PyObject* argument : arguments_) Py_XDECREF(argument);
  }

  PyObject* operator[](std::size_t index) const { return arguments_[index]; }
  PyObject*& operator[](std::size_t index) { return arguments_[index]; }
  void fill(PyObject* argument) { arguments_.fill(argument); }

  // Takes a reference to every bound argument, released when the call ends.
  void hold() {
    for (PyObject* argument : arguments_) Py_XINCREF(argument);
    held_ = true;
  }

 private:
  std::array<PyObject*, kMaxParameters> arguments_;
  bool held_ = false;
};

// bind_vector for the calls that its inline part does not settle: keywords, too few or too
// many positional arguments.
bool bind_vector_in_full(const Signature& signature, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames, Slots& slots);

// Binds a vector call's arguments (positional ones, then the values of `kwnames`). The usual
// call passes every required argument by position and no keyword: nothing can be missing,
// duplicated or unexpected then.
inline bool bind_vector(const Signature& signature, PyObject* const* args, Py_ssize_t nargsf,
                        PyObject* kwnames, Slots& slots) {
  const Py_ssize_t given = PyVectorcall_NARGS(nargsf);
  if (kwnames != nullptr || given < static_cast<Py_ssize_t>(signature.required) ||
      given > static_cast<Py_ssize_t>(signature.names.size())) {
    return bind_vector_in_full(signature, args, nargsf, kwnames, slots);
  }
  slots.fill(nullptr);
  for (Py_ssize_t i = 0; i < given; ++i) slots[static_cast<std::size_t>(i)] = args[i];
  return true;
}

// bind_tuple for the calls that its inline part does not settle.
bool bind_tuple_in_full(const Signature& signature, PyObject* args, PyObject* kwargs, Slots& slots);

// Binds a constructor's argument tuple and keyword dictionary (which may be null); as
// bind_vector, positional arguments alone, as many as the parameters take, bind inline.
inline bool bind_tuple(const Signature& signature, PyObject* args, PyObject* kwargs, Slots& slots) {
  const Py_ssize_t given = PyTuple_GET_SIZE(args);
  if ((kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) ||
      given < static_cast<Py_ssize_t>(signature.required) ||
      given > static_cast<Py_ssize_t>(signature.names.size())) {
    return bind_tuple_in_full(signature, args, kwargs, slots);
  }
  slots.fill(nullptr);
  for (Py_ssize_t i = 0; i < given; ++i) {
    slots[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
  }
  return true;
}

/* ---------------------------------------------------------------------------------------- */
/* Argument converters                                                                       */
/* Each returns false with a Python exception set.                                           */

// A float exactly, else whatever PyFloat_AsDouble makes of the object.
bool convert_float(PyObject* object, double* out);
// True or False, or a numpy boolean scalar through its type's truth slot.
bool convert_bool(PyObject* object, bool* out);
// A sequence of three items convertible to float.
bool convert_vector(PyObject* object, Vec3* out);
// A sequence of three rows, each converted as a vector.
bool convert_matrix(PyObject* object, Mat3* out);
// The three angles of a sequence of three floats, in order.
bool convert_triple(PyObject* object, std::array<double, 3>* out);
// None for no pair, else a tuple of exactly two floats.
bool convert_optional_pair(PyObject* object, std::optional<JointPair>* out);
// A str, seen as its UTF-8 bytes (valid while the str lives).
bool convert_string(PyObject* object, std::string_view* out);

// Replaces a pending TypeError by one whose message names the parameter; other errors stay.
void name_argument_error(const char* parameter);

// Converts the argument in slot `index` unless it is absent, when `out` keeps its default. A
// converter's TypeError is renamed after the parameter.
template <auto Converter, typename T>
bool convert_argument(const Signature& signature, const Slots& slots, std::size_t index, T* out) {
  PyObject* argument = slots[index];
  if (argument == nullptr) return true;
  if (Converter(argument, out)) return true;
  name_argument_error(signature.names[index]);
  return false;
}

/* ---------------------------------------------------------------------------------------- */
/* Receivers                                                                                 */

// A strong reference to a method's receiver, checked to be an instance of `type`, released
// when the call ends.
class Receiver {
 public:
  // Takes the receiver, or raises the TypeError of a wrong receiver type and returns false.
  bool take(PyObject* self, PyTypeObject* type) {
    if (self == nullptr || !PyObject_TypeCheck(self, type)) return refuse(self, type);
    object_ = Owned::borrowed(self);
    return true;
  }

 private:
  // Raises the TypeError of a receiver that is not an instance of `type`.
  static bool refuse(PyObject* self, PyTypeObject* type);

  Owned object_;
};

// Binds an instance method's arguments, then takes its receiver: the steps every instance
// method with parameters begins with.
inline bool begin_method(const Signature& signature, PyTypeObject* type, PyObject* self,
                         PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames, Slots& slots,
                         Receiver& receiver) {
  return bind_vector(signature, args, nargsf, kwnames, slots) && receiver.take(self, type);
}

/* ---------------------------------------------------------------------------------------- */
/* Result converters                                                                         */
/* Each makes new objects; null (with the internal fault raised) when the interpreter cannot */
/* create them.                                                                              */

inline PyObject* float_result(double value) {
  PyObject* result = PyFloat_FromDouble(value);
  return result != nullptr ? result : api_failure();
}

inline PyObject* bool_result(bool value) {
  return Py_NewRef(value ? Py_True : Py_False);
}

PyObject* vector_result(const Vec3& value);
PyObject* matrix_result(const Mat3& value);
PyObject* pair_result(const JointPair& value);
PyObject* triple_result(const std::array<double, 3>& value);

/* ---------------------------------------------------------------------------------------- */
/* Entry points                                                                              */

// Adapts a body with the vector-call signature to a method-table entry.
template <PyObject* (*Body)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* fastcall_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames) noexcept {
  return guarded([&] { return Body(self, args, nargsf, kwnames); });
}

// Adapts a body without parameters to a method-table entry. These bodies (accessors and the
// default arms) check a type and make one object: no Python code of anyone else's runs, so a
// value they return comes with no exception pending and only a null needs checking.
template <PyObject* (*Body)(PyObject*)>
PyObject* noargs_entry(PyObject* self, PyObject* /* always null */) noexcept {
  return without_exceptions([&] {
    PyObject* result = Body(self);
    return result != nullptr ? result : checked_result(result);
  });
}

// Adapts a constructor body to a type's new slot.
template <PyObject* (*Body)(PyTypeObject*, PyObject*, PyObject*)>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] { return Body(type, args, kwargs); });
}

// As new_entry, for a constructor that converts no argument and so runs no Python code but
// its own: as with noargs_entry, only a null result needs its error indicator checked.
template <PyObject* (*Body)(PyTypeObject*, PyObject*, PyObject*)>
PyObject* plain_new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return without_exceptions([&] {
    PyObject* result = Body(type, args, kwargs);
    return result != nullptr ? result : checked_result(result);
  });
}

// Method-table entry of a vector-call method.
template <PyObject* (*Body)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
constexpr PyMethodDef fastcall_method(const char* name, const char* doc, int extra_flags = 0) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fastcall_entry<Body>)),
          METH_FASTCALL | METH_KEYWORDS | extra_flags, doc};
}

// Method-table entry of a method without parameters.
template <PyObject* (*Body)(PyObject*)>
constexpr PyMethodDef noargs_method(const char* name, const char* doc, int extra_flags = 0) {
  return {name, &noargs_entry<Body>, METH_NOARGS | extra_flags, doc};
}

}  // namespace vornalt_torso_kinematics::bindings
