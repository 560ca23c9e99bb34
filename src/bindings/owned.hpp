// A strong reference to a Python object, released when it goes out of scope unless it is handed
// on: the one way the binding layer holds what it makes or borrows for longer than a call of
// the C API, so that every early return releases what was made so far.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace vornalt_torso_kinematics::bindings {

class Owned {
 public:
  Owned() = default;
  // Takes over a new reference (null is allowed: an API call that failed).
  explicit Owned(PyObject* object) : object_(object) {}
  Owned(Owned&& other) noexcept : object_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    PyObject* previous = std::exchange(object_, other.release());
    Py_XDECREF(previous);
    return *this;
  }
  ~Owned() { Py_XDECREF(object_); }

  // A new reference of its own to a borrowed object.
  static Owned borrowed(PyObject* object) { return Owned(Py_NewRef(object)); }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  // Hands the reference on to the caller (or to a call that steals it).
  PyObject* release() { return std::exchange(object_, nullptr); }

 private:
  PyObject* object_ = nullptr;
};

}  // namespace vornalt_torso_kinematics::bindings
