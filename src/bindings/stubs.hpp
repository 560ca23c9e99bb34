// Type-stub records of the module's two classes: every method's name, kind, parameters,
// parameter and return types as stub expressions, defaults and docstring. The shared object
// places them in two process-wide registries while it is loaded; the module never reads them.
// A stub generator that links the same code walks the registries and writes the .pyi file.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vornalt_torso_kinematics::stubs {

/* ---------------------------------------------------------------------------------------- */
/* Types                                                                                     */

// A module that a stub must import for a type expression to resolve.
struct ModuleRef {
  std::string name;

  auto operator<=>(const ModuleRef&) const = default;
};

// A type written as a stub expression, with the modules its names come from.
struct TypeInfo {
  std::string name;
  std::set<ModuleRef> import;
};

// Produces a type on request; types are made only when a reader asks for them.
using TypeOperation = TypeInfo (*)();

/* ---------------------------------------------------------------------------------------- */
/* Defaults                                                                                  */

// A parameter default's text, computed on first request and kept for the life of the process.
class DefaultText {
 public:
  constexpr explicit DefaultText(std::string (*compute)()) : compute_(compute) {}
  DefaultText(const DefaultText&) = delete;
  DefaultText& operator=(const DefaultText&) = delete;

  // The text; concurrent first requests compute it once.
  const std::string& text();

 private:
  std::string (*compute_)();
  std::mutex computing_;
  std::atomic<bool> computed_ = false;
  std::string text_;
};

// The text of a default that `make` creates as a Python object: its repr when the value is of
// a builtin type and the repr is a literal expression (no names in it), else "...". `make`
// returns a new reference, or null with an error set. Initialises the interpreter if it is
// not running and holds its global lock meanwhile; a caller's pending error is kept.
std::string python_default(PyObject* (*make)());

/* ---------------------------------------------------------------------------------------- */
/* Records                                                                                   */

// How a parameter appears in the text signature.
enum class SignatureKind {
  none,          // not listed
  name,          // listed by name, without a default
  with_default,  // listed with its default
};

struct SignatureEntry {
  SignatureKind kind = SignatureKind::none;
  DefaultText* default_text = nullptr;  // set exactly for `with_default`
};

// One parameter of a method, the receiver excluded.
struct ArgStubInfo {
  SignatureEntry signature;
  std::string_view name;
  TypeOperation type;
};

enum class MethodKind {
  instance_method,  // takes the instance as `self`
  static_method,    // takes no receiver
  constructor,      // `__new__`, takes the class as `cls`
};

struct MethodStubInfo {
  std::string_view name;
  std::span<const ArgStubInfo> args;
  TypeOperation return_type;
  std::string_view doc;
  MethodKind kind;
};

// A data member or class attribute (no class of the module has any).
struct MemberStubInfo {
  std::string_view name;
  TypeOperation type;
  std::string_view doc;
};

// One record per class. The class identity is the address of the class's PyType_Spec; it is
// the same in the class's PyMethodsInfo.
struct PyClassInfo {
  const void* class_id;
  std::string_view python_name;
  std::string_view doc;
  std::span<const MemberStubInfo> getters;
  std::span<const MemberStubInfo> setters;
  std::optional<std::string_view> module;
};

struct PyMethodsInfo {
  const void* class_id;
  std::span<const MemberStubInfo> attributes;
  std::span<const MethodStubInfo> methods;
};

/* ---------------------------------------------------------------------------------------- */
/* Registries                                                                                */

// A registry entry: a static record and the entry registered before it.
template <typename Record>
struct Registered {
  Record record;
  const Registered* next = nullptr;
};

// A lock-free list of static records, newest first. Entries are only ever added.
template <typename Record>
class Registry {
 public:
  constexpr Registry() = default;
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Links `entry` at the head. Allocates nothing and cannot fail.
  void prepend(Registered<Record>& entry) noexcept {
    entry.next = head_.load(std::memory_order_relaxed);
    while (!head_.compare_exchange_weak(entry.next, &entry, std::memory_order_release,
                                        std::memory_order_relaxed)) {
    }
  }

  // The newest entry, or null when the registry is empty.
  const Registered<Record>* head() const noexcept { return head_.load(std::memory_order_acquire); }

  // The records, newest first.
  std::vector<const Record*> records() const {
    std::vector<const Record*> out;
    for (const Registered<Record>* entry = head(); entry != nullptr; entry = entry->next) {
      out.push_back(&entry->record);
    }
    return out;
  }

 private:
  std::atomic<const Registered<Record>*> head_{nullptr};
};

extern Registry<PyClassInfo> class_registry;
extern Registry<PyMethodsInfo> methods_registry;

}  // namespace vornalt_torso_kinematics::stubs
