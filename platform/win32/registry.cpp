// RegistryKey over the Win32 registry calls.
#include "platform/registry.h"

#include <windows.h>

#include "platform/strings.h"

namespace platform {

namespace {

HKEY Native(void* handle) noexcept { return static_cast<HKEY>(handle); }

// The calls need NUL-terminated names; views may point into longer text.
std::string Terminated(std::string_view text) { return std::string(text); }

// The neighbouring products and the program this one replaces are 32-bit programs, so
// their keys under SOFTWARE, and this program's own, are in the 32-bit view (WOW6432Node
// on 64-bit Windows). Only paths from the root decide: a key opened in that view opens
// its subkeys in it as it is, since a handle names the key it was opened on. Other keys,
// such as SYSTEM, have one view for both.
constexpr std::string_view kRedirectedRoot = "SOFTWARE";

DWORD ViewFor(HKEY base, std::string_view path) {
  if (base != HKEY_LOCAL_MACHINE) return 0;
  const std::string first(path.substr(0, path.find('\\')));
  return CompareNoCase(first, std::string(kRedirectedRoot)) == 0 ? KEY_WOW64_32KEY : 0;
}

bool IsTextType(std::uint32_t type) noexcept {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

using NameReader = LONG (*)(HKEY key, DWORD index, char* name, DWORD* length);

LONG ReadSubkeyName(HKEY key, DWORD index, char* name, DWORD* length) {
  return ::RegEnumKeyExA(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
}

LONG ReadValueName(HKEY key, DWORD index, char* name, DWORD* length) {
  return ::RegEnumValueA(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
}

// Walks the indices until the registry reports that none are left. `capacity` is the
// longest name the registry allows for that kind, plus its NUL.
Error ListNames(HKEY key, NameReader read, DWORD capacity, std::vector<std::string>& names) {
  names.clear();
  std::string name(capacity, '\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = capacity;
    const LONG status = read(key, index, name.data(), &length);
    if (status == ERROR_NO_MORE_ITEMS) return kSuccess;
    if (status != ERROR_SUCCESS) return static_cast<Error>(status);
    names.emplace_back(name.data(), length);
  }
}

}  // namespace

namespace detail {
void CloseRegistryKey(void* handle) noexcept { ::RegCloseKey(Native(handle)); }
}  // namespace detail

RegistryKey RegistryKey::LocalMachine() {
  // A predefined key: closing it later does no harm.
  return RegistryKey(static_cast<void*>(HKEY_LOCAL_MACHINE));
}

RegistryKey RegistryKey::LocalMachineForReading() { return LocalMachine(); }

Error RegistryStoreProblem(std::string&) { return kSuccess; }

Error RegistryKey::Create(std::string_view path, std::uint32_t access, RegistryKey& key) const {
  HKEY created = nullptr;
  const LONG status =
      ::RegCreateKeyExA(Native(native()), Terminated(path).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, access | ViewFor(Native(native()), path),
                        nullptr, &created, nullptr);
  if (status != ERROR_SUCCESS) return static_cast<Error>(status);
  key = RegistryKey(created);
  return kSuccess;
}

Error RegistryKey::Open(std::string_view path, std::uint32_t access, RegistryKey& key) const {
  HKEY opened = nullptr;
  const LONG status = ::RegOpenKeyExA(Native(native()), Terminated(path).c_str(), 0,
                                      access | ViewFor(Native(native()), path), &opened);
  if (status != ERROR_SUCCESS) return static_cast<Error>(status);
  key = RegistryKey(opened);
  return kSuccess;
}

Error RegistryKey::QueryValue(std::string_view name, std::uint32_t* type, void* data,
                              std::uint32_t* size) const {
  DWORD storedType = 0;
  DWORD storedSize = size ? *size : 0;
  const LONG status =
      ::RegQueryValueExA(Native(native()), Terminated(name).c_str(), nullptr, &storedType,
                         static_cast<BYTE*>(data), size ? &storedSize : nullptr);
  if (type) *type = storedType;
  if (size) *size = storedSize;
  return static_cast<Error>(status);
}

Error RegistryKey::SetValue(std::string_view name, std::uint32_t type, const void* data,
                            std::uint32_t size) const {
  const BYTE* bytes = static_cast<const BYTE*>(data);
  // For text types the system peeks at the byte after the data and, when it is NUL, stores
  // one byte more. A copy that ends in a non-NUL guard keeps the size as given (and keeps
  // the peek inside memory we own).
  std::string guarded;
  if (IsTextType(type) && bytes != nullptr && size > 0 && bytes[size - 1] != 0) {
    guarded.assign(reinterpret_cast<const char*>(bytes), size);
    guarded.push_back('#');
    bytes = reinterpret_cast<const BYTE*>(guarded.data());
  }
  return static_cast<Error>(
      ::RegSetValueExA(Native(native()), Terminated(name).c_str(), 0, type, bytes, size));
}

Error RegistryKey::DeleteValue(std::string_view name) const {
  return static_cast<Error>(::RegDeleteValueA(Native(native()), Terminated(name).c_str()));
}

Error RegistryKey::DeleteKey(std::string_view path) const {
  return static_cast<Error>(::RegDeleteKeyExA(Native(native()), Terminated(path).c_str(),
                                              ViewFor(Native(native()), path), 0));
}

Error RegistryKey::Flush() const { return static_cast<Error>(::RegFlushKey(Native(native()))); }

Error RegistryKey::ListSubkeys(std::vector<std::string>& names) const {
  return ListNames(Native(native()), &ReadSubkeyName, 256, names);
}

Error RegistryKey::ListValues(std::vector<std::string>& names) const {
  return ListNames(Native(native()), &ReadValueName, 16384, names);
}

// Each read of the Windows registry stands alone.
RegistryReadBatch::RegistryReadBatch() noexcept = default;
RegistryReadBatch::~RegistryReadBatch() = default;

}  // namespace platform
