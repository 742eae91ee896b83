// RegistryKey on POSIX: each handle is a small heap record {key id, access} over the SQLite store.
#include "platform/registry.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/posix/errno_map.h"
#include "platform/posix/registry_store.h"
#include "platform/posix/state_dir.h"

namespace platform {

namespace store = posix::registry_store;
using posix::KeyHandle;

namespace detail {
void CloseRegistryKey(void* handle) noexcept { delete static_cast<KeyHandle*>(handle); }
}  // namespace detail

namespace {

const KeyHandle* HandleOf(const RegistryKey& key) {
  return static_cast<const KeyHandle*>(key.native());
}

// The Win32 calls take names as C strings; whatever follows a NUL is not part of the name.
std::string_view CName(std::string_view text) { return text.substr(0, text.find('\0')); }

Error Adopt(posix::KeyId id, std::uint32_t access, const KeyHandle& base, RegistryKey& key) {
  // Below HKEY_LOCAL_MACHINE for reading, no handle may write, whatever it asks for.
  if (base.readingOnly) access &= kKeyRead;
  auto* handle = new (std::nothrow) KeyHandle{id, access, base.readingOnly};
  if (handle == nullptr) return kNotEnoughMemory;
  key = RegistryAccess::Wrap(handle);
  return kSuccess;
}

}  // namespace

RegistryKey RegistryKey::LocalMachine() {
  // Out of memory yields a closed key, whose every operation then fails with 6.
  return RegistryAccess::Wrap(new (std::nothrow) KeyHandle{posix::kRootKeyId, kKeyAllAccess});
}

RegistryKey RegistryKey::LocalMachineForReading() {
  return RegistryAccess::Wrap(new (std::nothrow) KeyHandle{posix::kRootKeyId, kKeyRead, true});
}

Error RegistryStoreProblem(std::string& why) {
  const std::string directory = posix::StateDirectory(posix::Missing::kLeave);
  std::string reason;
  const Error refused = posix::CheckDirectory(directory, &reason);
  if (refused == kFileNotFound && !directory.empty()) return kSuccess;  // made at the first write
  if (refused != kSuccess) {
    why = reason;
    return refused;
  }
  const std::string store = directory + "/registry.db";
  if (::access(store.c_str(), F_OK) == 0 && ::access(store.c_str(), R_OK) != 0) {
    const int error = errno;
    why = store + " cannot be read: " + std::strerror(error);
    return posix::FromErrno(error);
  }
  return kSuccess;
}

Error RegistryKey::Create(std::string_view path, std::uint32_t access, RegistryKey& key) const {
  const KeyHandle* base = HandleOf(*this);
  if (base == nullptr) return kInvalidHandle;
  posix::KeyId id = 0;
  if (Error error = store::CreateKey(*base, CName(path), id)) return error;
  return Adopt(id, access, *base, key);
}

Error RegistryKey::Open(std::string_view path, std::uint32_t access, RegistryKey& key) const {
  const KeyHandle* base = HandleOf(*this);
  if (base == nullptr) return kInvalidHandle;
  posix::KeyId id = 0;
  if (Error error = store::OpenKey(*base, CName(path), id)) return error;
  return Adopt(id, access, *base, key);
}

Error RegistryKey::QueryValue(std::string_view name, std::uint32_t* type, void* data,
                              std::uint32_t* size) const {
  const KeyHandle* key = HandleOf(*this);
  return key ? store::QueryValue(*key, CName(name), type, data, size) : kInvalidHandle;
}

Error RegistryKey::SetValue(std::string_view name, std::uint32_t type, const void* data,
                            std::uint32_t size) const {
  const KeyHandle* key = HandleOf(*this);
  return key ? store::SetValue(*key, CName(name), type, data, size) : kInvalidHandle;
}

Error RegistryKey::DeleteValue(std::string_view name) const {
  const KeyHandle* key = HandleOf(*this);
  return key ? store::DeleteValue(*key, CName(name)) : kInvalidHandle;
}

Error RegistryKey::DeleteKey(std::string_view path) const {
  const KeyHandle* key = HandleOf(*this);
  return key ? store::DeleteKey(*key, CName(path)) : kInvalidHandle;
}

Error RegistryKey::Flush() const {
  const KeyHandle* key = HandleOf(*this);
  return key ? store::Flush(*key) : kInvalidHandle;
}

Error RegistryKey::ListSubkeys(std::vector<std::string>& names) const {
  const KeyHandle* key = HandleOf(*this);
  if (key == nullptr) {
    names.clear();
    return kInvalidHandle;
  }
  return store::ListSubkeys(*key, names);
}

Error RegistryKey::ListValues(std::vector<std::string>& names) const {
  const KeyHandle* key = HandleOf(*this);
  if (key == nullptr) {
    names.clear();
    return kInvalidHandle;
  }
  return store::ListValues(*key, names);
}

RegistryReadBatch::RegistryReadBatch() noexcept : begun_(store::BeginReadBatch()) {}

RegistryReadBatch::~RegistryReadBatch() {
  if (begun_) store::EndReadBatch();
}

}  // namespace platform
