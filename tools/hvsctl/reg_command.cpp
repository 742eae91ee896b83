// `hvsctl reg query|add|delete`: reg.exe's arguments, output layout and exit codes.
#include "tools/hvsctl/reg_command.h"

#include <array>
#include <optional>
#include <ostream>
#include <string_view>

#include "platform/registry.h"
#include "platform/strings.h"
#include "tools/hvsctl/reg_data.h"

namespace hvsctl {

namespace {

using platform::CompareNoCase;
using platform::Error;
using platform::RegistryKey;

constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kSuccessText = "The operation completed successfully.";
constexpr std::string_view kUsage =
    "Usage:\n"
    "  hvsctl reg query KEY [/v NAME | /ve] [/s]\n"
    "  hvsctl reg add KEY [/v NAME | /ve] [/t "
    "REG_SZ|REG_EXPAND_SZ|REG_MULTI_SZ|REG_BINARY|REG_DWORD]"
    " [/d DATA] [/f]\n"
    "  hvsctl reg delete KEY [/v NAME | /ve] /f\n"
    "KEY is HKLM\\path or HKEY_LOCAL_MACHINE\\path. REG_MULTI_SZ entries are separated by \\0,\n"
    "REG_DWORD data is decimal or 0x hex, REG_BINARY data is hex digits.\n";

struct Arguments {
  std::string display;  // the key as reg.exe prints it: HKEY_LOCAL_MACHINE\ and the typed path
  std::string path;     // below HKEY_LOCAL_MACHINE
  bool value = false;   // /v or /ve
  std::string name;     // the value's name; empty for the default value
  bool recurse = false;
  bool force = false;
  std::optional<std::string> type;
  std::optional<std::string> data;
};

std::string TextOf(Error error) {
  switch (error) {
    case platform::kFileNotFound:
      return "The system was unable to find the specified registry key or value.";
    case platform::kAccessDenied: return "Access is denied.";
    case platform::kBadPathname: return "Invalid key name.";
    case platform::kKeyDeleted:
      return "Illegal operation attempted on a registry key that has been marked for deletion.";
    case platform::kSharingViolation:
      return "The registry store is busy in another process; try again.";
    case platform::kRegistryIoFailed: return "The registry store could not be read or written.";
    default: return "The operation failed with error " + std::to_string(error) + ".";
  }
}

int Fail(std::ostream& err, std::string_view message) {
  err << "ERROR: " << message << '\n';
  return 1;
}

int Fail(std::ostream& err, Error error) { return Fail(err, TextOf(error)); }

int SyntaxError(std::ostream& err) {
  err << "ERROR: Invalid syntax.\nType \"hvsctl reg /?\" for usage.\n";
  return 1;
}

bool ParseKey(std::string_view text, Arguments& arguments) {
  const auto separator = text.find('\\');
  const std::string root(text.substr(0, separator));
  if (CompareNoCase(root, "HKLM") != 0 && CompareNoCase(root, std::string(kRootName)) != 0)
    return false;
  std::string_view path = separator == std::string_view::npos ? "" : text.substr(separator + 1);
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  arguments.path = path;
  arguments.display = kRootName;
  if (!path.empty()) arguments.display.append("\\").append(path);
  return true;
}

// Reads the switches after KEY; `allowed` names the ones the verb takes.
using Switches = std::array<std::string_view, 5>;  // unused places stay empty

bool ParseSwitches(const std::vector<std::string>& words, const Switches& allowed,
                   Arguments& arguments) {
  for (std::size_t i = 2; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.size() < 2 || (word[0] != '/' && word[0] != '-')) return false;
    const std::string name = word.substr(1);
    bool known = false;
    for (const auto candidate : allowed)
      known = known || CompareNoCase(name, std::string(candidate)) == 0;
    if (!known) return false;
    const bool hasOperand = i + 1 < words.size();
    if (CompareNoCase(name, "v") == 0 || CompareNoCase(name, "ve") == 0) {
      if (arguments.value) return false;
      arguments.value = true;
      if (CompareNoCase(name, "v") == 0) {
        if (!hasOperand) return false;
        arguments.name = words[++i];
      }
    } else if (CompareNoCase(name, "t") == 0 || CompareNoCase(name, "d") == 0) {
      auto& slot = CompareNoCase(name, "t") == 0 ? arguments.type : arguments.data;
      if (slot || !hasOperand) return false;
      slot = words[++i];
    } else if (CompareNoCase(name, "s") == 0) {
      if (arguments.recurse) return false;
      arguments.recurse = true;
    } else {
      if (arguments.force) return false;
      arguments.force = true;
    }
  }
  return true;
}

// One line of `reg query`: four spaces, the name, the type and the data, four spaces apart.
Error ValueLine(const RegistryKey& key, const std::string& name, std::string& line) {
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  std::string bytes;
  Error error = platform::kSuccess;
  // The first read learns the size; a value grown meanwhile by another process is read again.
  do {
    bytes.resize(size);
    error = key.QueryValue(name, &type, bytes.data(), &size);
  } while (error == platform::kMoreData);
  if (error != platform::kSuccess) return error;
  bytes.resize(size);
  line = "    " + (name.empty() ? std::string("(Default)") : name) + "    " + TypeName(type) +
         "    " + FormatData(type, bytes) + "\n";
  return platform::kSuccess;
}

// The value lines of one key, or of its value `only` (named as typed); values deleted
// meanwhile are left out.
Error ValueLines(const RegistryKey& key, const std::string* only, std::string& lines) {
  std::vector<std::string> names;
  if (only != nullptr) {
    names.push_back(*only);
  } else if (Error error = key.ListValues(names)) {
    return error;
  }
  for (const auto& name : names) {
    std::string line;
    const Error error = ValueLine(key, name, line);
    if (error == platform::kFileNotFound) continue;
    if (error != platform::kSuccess) return error;
    lines += line;
  }
  return platform::kSuccess;
}

// `reg query /s`: depth first, each key that has values (or the value `only`) as a block of
// its path, its value lines and an empty line.
Error AppendTree(const RegistryKey& key, const std::string& display, const std::string* only,
                 std::string& text, int& matches) {
  std::string lines;
  if (Error error = ValueLines(key, only, lines)) return error;
  if (!lines.empty()) {
    text += display + "\n" + lines + "\n";
    ++matches;
  }
  std::vector<std::string> subkeys;
  if (Error error = key.ListSubkeys(subkeys)) return error;
  for (const auto& name : subkeys) {
    RegistryKey subkey;
    const Error opened = key.Open(name, platform::kKeyRead, subkey);
    if (opened == platform::kFileNotFound) continue;
    if (opened != platform::kSuccess) return opened;
    if (Error error = AppendTree(subkey, display + "\\" + name, only, text, matches)) return error;
  }
  return platform::kSuccess;
}

// Without /s: the key's path and value lines (left out when it has none), then its subkeys'
// paths; with /v just that value. An unset default value asked for with /ve reads as unset.
Error AppendKey(const RegistryKey& key, const Arguments& arguments, std::string& text) {
  const std::string* only = arguments.value ? &arguments.name : nullptr;
  std::string lines;
  if (Error error = ValueLines(key, only, lines)) return error;
  if (only != nullptr && lines.empty()) {
    if (!only->empty()) return platform::kFileNotFound;
    lines = "    (Default)    REG_SZ    (value not set)\n";
  }
  if (!lines.empty()) text += arguments.display + "\n" + lines + "\n";
  if (only != nullptr) return platform::kSuccess;
  std::vector<std::string> subkeys;
  if (Error error = key.ListSubkeys(subkeys)) return error;
  for (const auto& name : subkeys) text += arguments.display + "\\" + name + "\n";
  return platform::kSuccess;
}

int Query(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  RegistryKey key;
  if (Error error = RegistryKey::LocalMachine().Open(arguments.path, platform::kKeyRead, key))
    return Fail(err, error);
  std::string text = "\n";
  if (arguments.recurse) {
    const std::string* only = arguments.value ? &arguments.name : nullptr;
    int matches = 0;
    if (Error error = AppendTree(key, arguments.display, only, text, matches))
      return Fail(err, error);
    if (only != nullptr && matches == 0) return Fail(err, platform::kFileNotFound);
  } else if (Error error = AppendKey(key, arguments, text)) {
    return Fail(err, error);
  }
  out << text;
  return 0;
}

int Add(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  const bool setsValue = arguments.value || arguments.type || arguments.data;
  std::uint32_t type = platform::kRegSz;
  if (arguments.type) {
    const auto named = ParseTypeName(*arguments.type);
    if (!named) return Fail(err, "Unsupported type " + *arguments.type + ".");
    type = *named;
  }
  const std::string data = arguments.data.value_or("");
  const auto bytes = EncodeData(type, data);
  if (setsValue && !bytes)
    return Fail(err, "Invalid data for " + TypeName(type) + ": \"" + data + "\".");

  RegistryKey key;
  if (Error error =
          RegistryKey::LocalMachine().Create(arguments.path, platform::kKeyAllAccess, key))
    return Fail(err, error);
  if (setsValue) {
    std::uint32_t size = 0;
    if (!arguments.force &&
        key.QueryValue(arguments.name, nullptr, nullptr, &size) == platform::kSuccess)
      return Fail(err, "The value exists already; add /f to overwrite it (hvsctl cannot ask).");
    if (Error error = key.SetValue(arguments.name, type, bytes->data(),
                                   static_cast<std::uint32_t>(bytes->size())))
      return Fail(err, error);
  }
  out << kSuccessText << '\n';
  return 0;
}

int Delete(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  if (!arguments.force) return Fail(err, "Deleting needs /f to confirm it (hvsctl cannot ask).");
  const RegistryKey machine = RegistryKey::LocalMachine();
  Error error = platform::kSuccess;
  if (arguments.value) {
    RegistryKey key;
    error = machine.Open(arguments.path, platform::kKeySetValue, key);
    if (error == platform::kSuccess) error = key.DeleteValue(arguments.name);
  } else if (arguments.path.empty()) {
    error = platform::kBadPathname;  // HKEY_LOCAL_MACHINE itself
  } else {
    error = machine.DeleteTree(arguments.path);
  }
  if (error != platform::kSuccess) return Fail(err, error);
  out << kSuccessText << '\n';
  return 0;
}

struct Verb {
  std::string_view name;
  Switches switches;
  int (*run)(const Arguments&, std::ostream&, std::ostream&);
};

constexpr Verb kVerbs[] = {
    {"query", {"v", "ve", "s"}, &Query},
    {"add", {"v", "ve", "t", "d", "f"}, &Add},
    {"delete", {"v", "ve", "f"}, &Delete},
};

}  // namespace

int RunRegCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  if (!words.empty() && (words[0] == "/?" || words[0] == "-?")) {
    out << kUsage;
    return 0;
  }
  if (words.size() < 2) return SyntaxError(err);
  for (const Verb& verb : kVerbs) {
    if (CompareNoCase(words[0], std::string(verb.name)) != 0) continue;
    Arguments arguments;
    if (!ParseKey(words[1], arguments)) return Fail(err, "Invalid key name.");
    if (!ParseSwitches(words, verb.switches, arguments)) return SyntaxError(err);
    return verb.run(arguments, out, err);
  }
  return SyntaxError(err);
}

}  // namespace hvsctl
