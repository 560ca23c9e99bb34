// Faults inside the binding layer reach Python as the module's internal-fault exception, a
// direct subclass of BaseException, and never as a crash or a value returned with an error
// set: a C++ exception thrown by an entry point's body, a body that breaks the rule of the
// error indicator, and an interpreter that cannot create a result object (an allocator that
// fails on demand). The module is linked into this program and imported by an embedded
// interpreter.

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <vornalt_torso_kinematics/bindings/classes.hpp>
#include <vornalt_torso_kinematics/bindings/frame.hpp>

using namespace vornalt_torso_kinematics;  // NOLINT: the library's names, unqualified

PyMODINIT_FUNC PyInit_vornalt_torso_kinematics(void);

namespace {

// Starts the interpreter for the whole program with the module built in, and shuts it down
// at the end with the module's objects still alive.
class Interpreter : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(PyImport_AppendInittab("vornalt_torso_kinematics", PyInit_vornalt_torso_kinematics),
              0);
    Py_InitializeEx(0);
    ASSERT_TRUE(Py_IsInitialized());
  }
  void TearDown() override { EXPECT_EQ(Py_FinalizeEx(), 0); }
};

[[maybe_unused]] ::testing::Environment* const kInterpreter =
    ::testing::AddGlobalTestEnvironment(new Interpreter);

// The pending exception, cleared: its type (null when none is set) and its str().
struct Raised {
  PyObject* type = nullptr;  // borrowed: exception classes live for the process
  std::string text;
};

Raised take_raised() {
  Raised raised;
  PyObject* error = PyErr_GetRaisedException();
  if (error == nullptr) return raised;
  raised.type = reinterpret_cast<PyObject*>(Py_TYPE(error));
  PyObject* text = PyObject_Str(error);
  if (text != nullptr) {
    raised.text = PyUnicode_AsUTF8(text);
    Py_DECREF(text);
  }
  Py_DECREF(error);
  PyErr_Clear();
  return raised;
}

// Checks that `raised` is the module's internal fault with `text`.
void expect_internal_fault(const Raised& raised, const std::string& text) {
  ASSERT_NE(bindings::process.internal_fault, nullptr);
  EXPECT_EQ(raised.type, bindings::process.internal_fault);
  EXPECT_EQ(raised.text, text);
  auto* type = reinterpret_cast<PyTypeObject*>(bindings::process.internal_fault);
  EXPECT_EQ(type->tp_base, reinterpret_cast<PyTypeObject*>(PyExc_BaseException));
  EXPECT_STREQ(type->tp_name, "InternalFault");
  PyObject* module = PyObject_GetAttrString(bindings::process.internal_fault, "__module__");
  ASSERT_NE(module, nullptr);
  EXPECT_STREQ(PyUnicode_AsUTF8(module), "vornalt_torso_kinematics");
  Py_DECREF(module);
}

/* ---------------------------------------------------------------------------------------- */
/* Entry-point bodies that fail in ways no input reaches                                     */

TEST(Guarded, CxxExceptionsBecomeTheInternalFault) {
  struct Case {
    std::function<PyObject*()> body;
    const char* text;
  };
  const Case cases[] = {
      {[]() -> PyObject* { throw std::runtime_error("broken invariant"); }, "broken invariant"},
      {[]() -> PyObject* { throw std::out_of_range("index 7"); }, "index 7"},
      {[]() -> PyObject* { throw 42; }, "unknown C++ exception"},
      // An error already pending when the body throws is replaced, not chained.
      {[]() -> PyObject* {
         PyErr_SetString(PyExc_ValueError, "pending");
         throw std::logic_error("thrown over a pending error");
       },
       "thrown over a pending error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    PyObject* result = bindings::guarded(c.body);
    EXPECT_EQ(result, nullptr);
    expect_internal_fault(take_raised(), c.text);
  }
}

TEST(Guarded, ErrorIndicatorMismatchesBecomeTheInternalFault) {
  EXPECT_EQ(bindings::guarded([]() -> PyObject* { return nullptr; }), nullptr);
  expect_internal_fault(take_raised(), "an entry point failed without setting an exception");

  // The value is released, not returned.
  PyObject* value = PyList_New(0);
  ASSERT_NE(value, nullptr);
  const Py_ssize_t before = Py_REFCNT(value);
  PyObject* result = bindings::guarded([value]() -> PyObject* {
    PyErr_SetString(PyExc_RuntimeError, "set by mistake");
    return Py_NewRef(value);
  });
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(Py_REFCNT(value), before);
  expect_internal_fault(take_raised(), "an entry point returned a value with an exception set");
  Py_DECREF(value);
}

TEST(Guarded, SoundBodiesPassThrough) {
  PyObject* value = PyFloat_FromDouble(0.25);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(bindings::guarded([value] { return Py_NewRef(value); }), value);
  Py_DECREF(value);  // the reference the body returned
  EXPECT_FALSE(PyErr_Occurred());

  EXPECT_EQ(bindings::guarded([] { return bindings::raise_message(PyExc_ValueError, "bad"); }),
            nullptr);
  const Raised raised = take_raised();
  EXPECT_EQ(raised.type, PyExc_ValueError);
  EXPECT_EQ(raised.text, "bad");
  Py_DECREF(value);
}

TEST(GuardedDeathTest, MemoryForWorkingValuesEndsTheProcess) {
  EXPECT_DEATH(bindings::guarded([]() -> PyObject* { throw std::bad_alloc(); }),
               "uncaught panic at ffi boundary");
}

/* ---------------------------------------------------------------------------------------- */
/* An interpreter that cannot create results                                                 */

// Hooks the interpreter's memory and object domains: the allocation numbered `fail_at`
// (counting from 0 after arm()) returns null, and with `persistent` every later one too;
// every other allocation passes through.
class FailingAllocator {
 public:
  FailingAllocator() {
    install(PYMEM_DOMAIN_MEM, &original_mem_);
    install(PYMEM_DOMAIN_OBJ, &original_obj_);
  }
  ~FailingAllocator() {
    PyMem_SetAllocator(PYMEM_DOMAIN_MEM, &original_mem_);
    PyMem_SetAllocator(PYMEM_DOMAIN_OBJ, &original_obj_);
  }
  FailingAllocator(const FailingAllocator&) = delete;
  FailingAllocator& operator=(const FailingAllocator&) = delete;

  static void arm(long fail_at, bool persistent = false) {
    countdown_ = fail_at;
    persistent_ = persistent;
    failed_ = false;
  }
  // Stops failing; whether the armed allocation was reached.
  static bool disarm() {
    countdown_ = -1;
    return failed_;
  }

 private:
  static bool fail_now() {
    if (countdown_ < 0) return false;
    if (countdown_ > 0) {
      --countdown_;
      return false;
    }
    if (!persistent_) countdown_ = -1;
    failed_ = true;
    return true;
  }
  static void* malloc_hook(void* ctx, std::size_t size) {
    auto* original = static_cast<PyMemAllocatorEx*>(ctx);
    return fail_now() ? nullptr : original->malloc(original->ctx, size);
  }
  static void* calloc_hook(void* ctx, std::size_t count, std::size_t size) {
    auto* original = static_cast<PyMemAllocatorEx*>(ctx);
    return fail_now() ? nullptr : original->calloc(original->ctx, count, size);
  }
  static void* realloc_hook(void* ctx, void* block, std::size_t size) {
    auto* original = static_cast<PyMemAllocatorEx*>(ctx);
    return fail_now() ? nullptr : original->realloc(original->ctx, block, size);
  }
  static void free_hook(void* ctx, void* block) {
    auto* original = static_cast<PyMemAllocatorEx*>(ctx);
    original->free(original->ctx, block);
  }
  static void install(PyMemAllocatorDomain domain, PyMemAllocatorEx* original) {
    PyMem_GetAllocator(domain, original);
    PyMemAllocatorEx hook = {original, malloc_hook, calloc_hook, realloc_hook, free_hook};
    PyMem_SetAllocator(domain, &hook);
  }

  static inline long countdown_ = -1;
  static inline bool persistent_ = false;
  static inline bool failed_ = false;
  PyMemAllocatorEx original_mem_{};
  PyMemAllocatorEx original_obj_{};
};

// Takes the interpreter's free lists of floats, small tuples and lists, so that every such
// object a call makes comes from the allocator.
class DrainedFreeLists {
 public:
  DrainedFreeLists() {
    for (int i = 0; i < 2100; ++i) {
      keep(PyFloat_FromDouble(i + 0.5));
      keep(PyTuple_New(2));
      keep(PyTuple_New(3));
      keep(PyList_New(0));
    }
  }
  ~DrainedFreeLists() {
    for (PyObject* object : kept_) Py_DECREF(object);
  }
  DrainedFreeLists(const DrainedFreeLists&) = delete;
  DrainedFreeLists& operator=(const DrainedFreeLists&) = delete;

 private:
  void keep(PyObject* object) {
    if (object == nullptr) {
      ADD_FAILURE() << "cannot allocate";
      PyErr_Clear();
      return;
    }
    kept_.push_back(object);
  }
  std::vector<PyObject*> kept_;
};

struct Query {
  const char* label;
  const char* target;  // "arm", "neck" or "class"
  const char* method;
  const char* args;    // a Python expression of the argument tuple
  bool makes_objects;  // the result needs new objects (not True, False or None)
};

// A new reference to the object that Python code `expression` evaluates to, with the module's
// names and an arm and a neck in scope.
PyObject* evaluate(const char* expression) {
  PyObject* globals = PyDict_New();
  if (globals == nullptr) return nullptr;
  PyObject* value = nullptr;
  PyObject* setup = PyRun_String(
      "from vornalt_torso_kinematics import *\n"
      "arm = VornaltArmKinematics.default_left()\n"
      "neck = VornaltNeckKinematics()\n",
      Py_file_input, globals, globals);
  if (setup != nullptr) {
    Py_DECREF(setup);
    value = PyRun_String(expression, Py_eval_input, globals, globals);
  }
  Py_DECREF(globals);
  return value;
}

// Whether two results are equal; arms, which compare by identity, by their geometry.
bool same_result(PyObject* a, PyObject* b) {
  PyTypeObject* arm = bindings::process.arm_type;
  if (Py_TYPE(a) == arm && Py_TYPE(b) == arm) {
    const arm::SphericalLinkGeometry& x = ArmObject_CAST(a)->geometry;
    const arm::SphericalLinkGeometry& y = ArmObject_CAST(b)->geometry;
    return x.arm_arc == y.arm_arc && x.coupler_arc == y.coupler_arc && x.branch == y.branch &&
           x.mirror == y.mirror;
  }
  return PyObject_RichCompareBool(a, b, Py_EQ) == 1;
}

TEST(ApiFailure, ResultsThatCannotBeCreatedRaiseTheInternalFault) {
  const Query queries[] = {
      {"arm.fk", "arm", "fk", "(0.3, -0.2)", true},
      {"arm.direction", "arm", "direction", "(0.3, -0.2)", true},
      {"arm.ik", "arm", "ik", "(arm.fk(0.3, -0.2),)", true},
      {"arm.ik_from_direction", "arm", "ik_from_direction",
       "(arm.direction(0.3, -0.4), (0.3, -1.2))", true},
      {"arm.arm_arc", "arm", "arm_arc", "()", true},
      {"arm.coupler_arc", "arm", "coupler_arc", "()", true},
      {"arm.default_left", "arm", "default_left", "()", true},
      {"arm.from_json", "arm", "from_json",
       "('{\"arm_arc\": 0.7, \"coupler_arc\": 0.5, \"branch\": \"negative\", \"mirror\": true}',)",
       true},
      {"neck.fk", "neck", "fk", "([0.1, 0.2, 0.3],)", true},
      {"neck.ik", "neck", "ik", "(neck.fk([0.1, 0.2, 0.3]),)", true},
      {"arm.is_reachable_joints", "arm", "is_reachable_joints", "(0.3, -0.2)", false},
      {"arm.is_reachable_direction", "arm", "is_reachable_direction", "([0.0, 0.0, 1.0],)", false},
      {"arm.mirror", "arm", "mirror", "()", false},
  };
  for (const Query& query : queries) {
    SCOPED_TRACE(query.label);
    PyObject* receiver = evaluate(query.target);
    PyObject* args = evaluate(query.args);
    PyObject* name = PyUnicode_FromString(query.method);
    ASSERT_TRUE(receiver != nullptr && args != nullptr && name != nullptr);

    // The undisturbed answer.
    std::vector<PyObject*> vector(1 + static_cast<std::size_t>(PyTuple_GET_SIZE(args)));
    vector[0] = receiver;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) {
      vector[1 + static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
    }
    const auto call = [&] {
      return PyObject_VectorcallMethod(name, vector.data(), vector.size(), nullptr);
    };
    PyObject* answer = call();
    ASSERT_NE(answer, nullptr);
    const Py_ssize_t receiver_references = Py_REFCNT(receiver);

    int faults = 0;
    int memory_errors = 0;
    bool completed = false;
    FailingAllocator allocator;
    for (long fail_at = 0; fail_at < 200 && !completed; ++fail_at) {
      DrainedFreeLists drained;
      FailingAllocator::arm(fail_at);
      PyObject* result = call();
      const bool failed = FailingAllocator::disarm();
      if (result != nullptr) {
        EXPECT_FALSE(PyErr_Occurred()) << "a value returned with an exception set";
        EXPECT_TRUE(same_result(result, answer));
        Py_DECREF(result);
        completed = !failed;
      } else {
        const Raised raised = take_raised();
        if (raised.type == PyExc_MemoryError) {
          ++memory_errors;
        } else {
          expect_internal_fault(raised, "Python API call failed");
          ++faults;
        }
      }
      EXPECT_EQ(Py_REFCNT(receiver), receiver_references);
    }
    EXPECT_TRUE(completed) << "the call never completed";
    if (query.makes_objects) {
      EXPECT_GT(faults, 0) << "no allocation failure reached the result converter";
    } else {
      EXPECT_EQ(faults + memory_errors, 0) << "a result without new objects failed";
    }
    Py_DECREF(answer);
    Py_DECREF(name);
    Py_DECREF(args);
    Py_DECREF(receiver);
  }
}

// Memory that stays exhausted from some allocation on, in a process where no fault was
// reported yet: every call still returns, with an exception set (the internal fault, or the
// interpreter's MemoryError where even that cannot be made), and the process goes on.
TEST(ApiFailure, LastingExhaustionLeavesTheProcessRunning) {
  PyObject* arm = evaluate("arm");
  PyObject* name = PyUnicode_FromString("fk");
  PyObject* theta_a = PyFloat_FromDouble(0.3);
  PyObject* theta_b = PyFloat_FromDouble(-0.2);
  ASSERT_TRUE(arm != nullptr && name != nullptr && theta_a != nullptr && theta_b != nullptr);
  PyObject* vector[] = {arm, theta_a, theta_b};

  int failures = 0;
  FailingAllocator allocator;
  for (long fail_from = 0; fail_from < 40; ++fail_from) {
    DrainedFreeLists drained;
    FailingAllocator::arm(fail_from, /* persistent */ true);
    PyObject* result = PyObject_VectorcallMethod(name, vector, 3, nullptr);
    PyObject* error = PyErr_GetRaisedException();
    const bool failed = FailingAllocator::disarm();
    if (result != nullptr) {
      EXPECT_EQ(error, nullptr);
      Py_DECREF(result);
      if (!failed) break;
      continue;
    }
    ASSERT_NE(error, nullptr) << "null returned without an exception";
    const bool memory_error = PyErr_GivenExceptionMatches(error, PyExc_MemoryError);
    const bool fault =
        bindings::process.internal_fault != nullptr &&
        Py_TYPE(error) == reinterpret_cast<PyTypeObject*>(bindings::process.internal_fault);
    EXPECT_TRUE(memory_error || fault);
    Py_DECREF(error);
    ++failures;
  }
  EXPECT_GT(failures, 0);
  Py_DECREF(theta_b);
  Py_DECREF(theta_a);
  Py_DECREF(name);
  Py_DECREF(arm);
}

}  // namespace
