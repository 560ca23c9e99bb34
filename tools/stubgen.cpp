// Writes the type-stub file of vornalt_torso_kinematics from the records that the bindings
// register at load time. It links the binding objects, so the registries are filled before
// main runs; it embeds Python only to take the repr of parameter defaults.
//
//   stubgen OUTPUT.pyi [--python-home DIR]
//
// The interpreter runs in isolated mode. Its home is DIR, else $PYTHONHOME, else what the
// interpreter works out from its own installation.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <vornalt_torso_kinematics/bindings/docs.hpp>
#include <vornalt_torso_kinematics/bindings/stubs.hpp>

using namespace vornalt_torso_kinematics;  // NOLINT: the library's names, unqualified

namespace {

using stubs::ArgStubInfo;
using stubs::MethodKind;
using stubs::MethodStubInfo;
using stubs::PyClassInfo;
using stubs::PyMethodsInfo;
using stubs::SignatureKind;

constexpr std::string_view kModule = TORSO_MODULE_NAME;
constexpr const char* kIndent = "    ";

// A class to write: its record and its methods, in registration order.
struct ClassStub {
  const PyClassInfo* info;
  std::vector<const MethodStubInfo*> methods;
};

// Fails generation with a message naming the record at fault.
[[noreturn]] void reject(const std::string& message) {
  throw std::runtime_error(message);
}

// Starts Python in isolated mode, so that no environment variable or user site changes it.
void start_python(const char* home) {
  PyConfig config;
  PyConfig_InitIsolatedConfig(&config);
  config.install_signal_handlers = 0;
  PyStatus status = PyStatus_Ok();
  if (home != nullptr && home[0] != '\0') {
    status = PyConfig_SetBytesString(&config, &config.home, home);
    if (PyStatus_Exception(status)) goto error;
  }
  status = Py_InitializeFromConfig(&config);
  if (PyStatus_Exception(status)) goto error;
  PyConfig_Clear(&config);
  return;

error:
  PyConfig_Clear(&config);
  Py_ExitStatusException(status);
}

// The records of a registry in registration order (registries list the newest first).
template <typename Record>
std::vector<const Record*> oldest_first(const stubs::Registry<Record>& registry) {
  std::vector<const Record*> records = registry.records();
  return {records.rbegin(), records.rend()};
}

// Pairs every class record of the module (a record without a module counts as one) with its
// methods records, by class identity, and orders the classes by name.
std::vector<ClassStub> collect_classes() {
  std::map<std::string_view, ClassStub> by_name;
  std::map<const void*, ClassStub*> by_id;
  std::set<const void*> elsewhere;  // classes of other modules
  for (const PyClassInfo* info : oldest_first(stubs::class_registry)) {
    if (info->module.has_value() && *info->module != kModule) {
      elsewhere.insert(info->class_id);
      continue;
    }
    if (!info->getters.empty() || !info->setters.empty()) {
      reject("class " + std::string(info->python_name) + ": data members are not supported");
    }
    auto [slot, fresh] = by_name.emplace(info->python_name, ClassStub{info, {}});
    if (!fresh || by_id.contains(info->class_id)) {
      reject("class " + std::string(info->python_name) + " is registered twice");
    }
    by_id[info->class_id] = &slot->second;
  }
  for (const PyMethodsInfo* methods : oldest_first(stubs::methods_registry)) {
    if (elsewhere.contains(methods->class_id)) continue;
    const auto owner = by_id.find(methods->class_id);
    if (owner == by_id.end()) reject("a methods record belongs to no registered class");
    if (!methods->attributes.empty()) {
      reject("class " + std::string(owner->second->info->python_name) +
             ": class attributes are not supported");
    }
    for (const MethodStubInfo& method : methods->methods) owner->second->methods.push_back(&method);
  }
  std::vector<ClassStub> classes;
  for (auto& [name, stub] : by_name) classes.push_back(std::move(stub));
  return classes;
}

// Whether Python code may subclass the class: the flags of its PyType_Spec, which the
// class identity points to.
bool subclassable(const PyClassInfo& info) {
  return (static_cast<const PyType_Spec*>(info.class_id)->flags & Py_TPFLAGS_BASETYPE) != 0;
}

// The text of a Python string literal, quotes excluded, that reads back as `text` inside
// triple double quotes: backslashes, double quotes and control characters other than line
// breaks and tabs are escaped.
std::string string_body(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7f) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

// Ends a `def` or `class` line: with " ..." when there is no docstring, else with the
// docstring on the next line at `indent`.
void write_body(std::ostream& out, std::string_view doc, const std::string& indent) {
  if (doc.empty()) {
    out << " ...\n";
  } else {
    out << "\n" << indent << "\"\"\"" << string_body(doc) << "\"\"\"\n";
  }
}

// One parameter: "name: Type" or "name: Type = default".
std::string parameter(const ArgStubInfo& arg, std::set<stubs::ModuleRef>& imports) {
  const stubs::TypeInfo type = arg.type();
  imports.insert(type.import.begin(), type.import.end());
  std::string text = std::string(arg.name) + ": " + type.name;
  if (arg.signature.kind == SignatureKind::with_default) {
    if (arg.signature.default_text == nullptr) {
      reject("parameter " + std::string(arg.name) + " has a default without a text");
    }
    text += " = " + arg.signature.default_text->text();
  }
  return text;
}

// Writes one method: decorator, signature with types and defaults, and body.
void write_method(std::ostream& out, const MethodStubInfo& method,
                  std::set<stubs::ModuleRef>& imports) {
  const std::string indent = kIndent;
  std::vector<std::string> parameters;
  switch (method.kind) {
    case MethodKind::instance_method:
      parameters.push_back("self");
      break;
    case MethodKind::constructor:
      parameters.push_back("cls");
      break;
    case MethodKind::static_method:
      out << indent << "@staticmethod\n";
      break;
  }
  bool defaults_started = false;
  for (const ArgStubInfo& arg : method.args) {
    const bool has_default = arg.signature.kind == SignatureKind::with_default;
    if (defaults_started && !has_default) {
      reject(std::string(method.name) + ": parameter " + std::string(arg.name) +
             " without a default follows one with a default");
    }
    defaults_started = has_default;
    parameters.push_back(parameter(arg, imports));
  }
  const stubs::TypeInfo returned = method.return_type();
  imports.insert(returned.import.begin(), returned.import.end());

  out << indent << "def " << method.name << "(";
  for (std::size_t i = 0; i < parameters.size(); ++i) out << (i > 0 ? ", " : "") << parameters[i];
  out << ") -> " << returned.name << ":";
  write_body(out, method.doc, indent + kIndent);
}

// Writes one class: final unless it can be subclassed, then its docstring and its methods.
void write_class(std::ostream& out, const ClassStub& stub, std::set<stubs::ModuleRef>& imports) {
  if (!subclassable(*stub.info)) {
    out << "@typing.final\n";
    imports.insert({"typing"});
  }
  out << "class " << stub.info->python_name << ":";
  if (!stub.info->doc.empty() || stub.methods.empty()) {
    write_body(out, stub.info->doc, kIndent);
  } else {
    out << "\n";
  }
  for (const MethodStubInfo* method : stub.methods) write_method(out, *method, imports);
}

// The whole stub file: a header, the sorted imports the types need, `__all__` (the module
// exports exactly its classes), then the classes.
std::string stub_file() {
  std::set<stubs::ModuleRef> imports;
  std::ostringstream names;
  std::ostringstream classes;
  bool first = true;
  for (const ClassStub& stub : collect_classes()) {
    names << (first ? "" : ", ") << '"' << stub.info->python_name << '"';
    classes << (first ? "" : "\n");
    write_class(classes, stub, imports);
    first = false;
  }
  imports.erase({std::string(kModule)});

  std::ostringstream out;
  out << "# Type stubs of " << kModule << ", generated by tools/stubgen from the type-stub\n"
      << "# records that the extension registers. Do not edit.\n\n";
  for (const stubs::ModuleRef& module : imports) out << "import " << module.name << "\n";
  if (!imports.empty()) out << "\n";
  out << "__all__ = [" << names.str() << "]\n\n";
  out << classes.str();
  return out.str();
}

// Replaces the file at `path` with `text`, through a temporary file beside it, so that a
// failed run never leaves a partial stub that a build would take as up to date.
bool write_file(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (file && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  const int error = errno;
  std::remove(temporary.c_str());
  errno = error;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const char* output = nullptr;
  const char* home = std::getenv("PYTHONHOME");
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--python-home") == 0 && i + 1 < argc) {
      home = argv[++i];
    } else if (output == nullptr && argv[i][0] != '-') {
      output = argv[i];
    } else {
      output = nullptr;
      break;
    }
  }
  if (output == nullptr) {
    std::fprintf(stderr, "usage: %s OUTPUT.pyi [--python-home DIR]\n", argv[0]);
    return 2;
  }

  start_python(home);
  std::string text;
  try {
    text = stub_file();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "stubgen: %s\n", error.what());
    Py_FinalizeEx();
    return 1;
  }
  if (Py_FinalizeEx() < 0) return 1;
  if (!write_file(output, text)) {
    std::fprintf(stderr, "stubgen: cannot write %s: %s\n", output, std::strerror(errno));
    return 1;
  }
  return 0;
}
