// Service registrations as registry values, where Windows keeps them too.
#include "platform/posix/scm/service_registration.h"

#include "platform/posix/scm/service_files.h"
#include "platform/registry.h"

namespace platform::posix::service_registration {

namespace {

constexpr char kDefaultAccount[] = "LocalSystem";

std::string KeyPath(const std::string& name) { return std::string(kServicesKey) + '\\' + name; }

Error OpenEntry(const std::string& name, std::uint32_t access, RegistryKey& key) {
  return RegistryKey::LocalMachine().Open(KeyPath(name), access, key);
}

Error SetDword(const RegistryKey& key, const char* name, std::uint32_t value) {
  return key.SetValue(name, kRegDword, &value, sizeof value);
}

Error SetText(const RegistryKey& key, const char* name, std::uint32_t type, const std::string& text) {
  return key.SetValue(name, type, text.c_str(), static_cast<std::uint32_t>(text.size() + 1));
}

bool ReadDword(const RegistryKey& key, const char* name, std::uint32_t& value) {
  std::uint32_t type = 0;
  std::uint32_t size = sizeof value;
  return key.QueryValue(name, &type, &value, &size) == kSuccess && type == kRegDword &&
         size == sizeof value;
}

bool ReadBytes(const RegistryKey& key, const char* name, std::string& bytes) {
  std::uint32_t size = 0;
  if (key.QueryValue(name, nullptr, nullptr, &size) != kSuccess) return false;
  bytes.assign(size, '\0');
  if (key.QueryValue(name, nullptr, bytes.data(), &size) != kSuccess) return false;
  bytes.resize(size);
  return true;
}

// A text value without the terminating NULs it was stored with.
std::string ReadText(const RegistryKey& key, const char* name) {
  std::string text;
  if (!ReadBytes(key, name, text)) return std::string();
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  return text;
}

// The names of a dependency block, each with its NUL, and the closing NUL; empty when the
// block names nobody.
std::string DependencyList(const std::vector<char>& block) {
  std::string list;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < block.size(); ++i) {
    if (block[i] != '\0') continue;
    if (i == begin) break;  // the empty name ends the block
    list.append(block.data() + begin, i - begin + 1);
    begin = i + 1;
  }
  if (!list.empty()) list.push_back('\0');
  return list;
}

Error RemoveTree(const RegistryKey& parent, const std::string& path) {
  RegistryKey key;
  if (const Error error = parent.Open(path, kKeyAllAccess, key)) return error;
  std::vector<std::string> children;
  if (const Error error = key.ListSubkeys(children)) return error;
  for (const std::string& child : children)
    if (const Error error = RemoveTree(key, child)) return error;
  key.Close();
  return parent.DeleteKey(path);
}

}  // namespace

Error Find(const std::string& name, Presence& presence) {
  presence = Presence::Absent;
  RegistryKey key;
  const Error opened = OpenEntry(name, kKeyQueryValue, key);
  if (opened == kFileNotFound) return kSuccess;
  if (opened != kSuccess) return opened;
  std::uint32_t value = 0;
  if (!ReadDword(key, "Type", value)) return kSuccess;
  presence = ReadDword(key, "DeleteFlag", value) && value != 0 ? Presence::MarkedForDelete
                                                                : Presence::Installed;
  return kSuccess;
}

Error Write(const std::string& name, const ServiceConfig& config) {
  RegistryKey key;
  if (const Error error = RegistryKey::LocalMachine().Create(KeyPath(name), kKeyAllAccess, key))
    return error;
  const std::string account =
      config.serviceStartName.empty() ? kDefaultAccount : config.serviceStartName;
  const std::string dependencies = DependencyList(config.dependencies);
  Error error = SetDword(key, "Start", config.startType);
  if (!error) error = SetDword(key, "ErrorControl", config.errorControl);
  if (!error) error = SetText(key, "ImagePath", kRegExpandSz, config.binaryPathName);
  if (!error) error = SetText(key, "DisplayName", kRegSz, config.displayName);
  if (!error) error = SetText(key, "ObjectName", kRegSz, account);
  if (!error && !config.loadOrderGroup.empty())
    error = SetText(key, "Group", kRegSz, config.loadOrderGroup);
  if (!error && !dependencies.empty())
    error = key.SetValue("DependOnService", kRegMultiSz, dependencies.data(),
                         static_cast<std::uint32_t>(dependencies.size()));
  key.DeleteValue("DeleteFlag");  // left by an entry of the same name that was removed by hand
  if (!error) error = SetDword(key, "Type", config.serviceType);
  return error;
}

Error Read(const std::string& name, ServiceConfig& config) {
  RegistryKey key;
  if (const Error error = OpenEntry(name, kKeyQueryValue, key)) return error;
  config = ServiceConfig{};
  if (!ReadDword(key, "Type", config.serviceType)) return kFileNotFound;
  ReadDword(key, "Start", config.startType);
  ReadDword(key, "ErrorControl", config.errorControl);
  config.binaryPathName = ReadText(key, "ImagePath");
  config.loadOrderGroup = ReadText(key, "Group");
  config.serviceStartName = ReadText(key, "ObjectName");
  config.displayName = ReadText(key, "DisplayName");
  std::string dependencies;
  if (ReadBytes(key, "DependOnService", dependencies)) {
    const std::string list = DependencyList(std::vector<char>(dependencies.begin(), dependencies.end()));
    config.dependencies.assign(list.begin(), list.end());
  }
  return kSuccess;
}

Error WriteDescription(const std::string& name, const std::string& description) {
  RegistryKey key;
  if (const Error error = OpenEntry(name, kKeySetValue, key)) return error;
  if (description.empty()) {
    const Error error = key.DeleteValue("Description");
    return error == kFileNotFound ? kSuccess : error;
  }
  return SetText(key, "Description", kRegSz, description);
}

Error MarkForDelete(const std::string& name) {
  RegistryKey key;
  if (const Error error = OpenEntry(name, kKeySetValue, key)) return error;
  return SetDword(key, "DeleteFlag", 1);
}

Error Remove(const std::string& name) {
  RegistryKey services;
  if (const Error error = RegistryKey::LocalMachine().Open(kServicesKey, kKeyAllAccess, services))
    return error;
  if (const Error error = RemoveTree(services, name)) return error;
  service_files::RemoveServiceFiles(name);
  return kSuccess;
}

void RemoveIfMarkedForDelete(const std::string& name, std::chrono::milliseconds wait) {
  UniqueFd entries;
  Presence presence = Presence::Absent;
  if (service_files::LockFile(service_files::EntriesLockPath(), wait, entries) == kSuccess &&
      Find(name, presence) == kSuccess && presence == Presence::MarkedForDelete)
    Remove(name);
}

Error ListKeys(std::vector<std::string>& names) {
  RegistryKey services;
  const Error opened = RegistryKey::LocalMachine().Open(kServicesKey, kKeyRead, services);
  if (opened == kFileNotFound) {
    names.clear();
    return kSuccess;
  }
  if (opened != kSuccess) return opened;
  return services.ListSubkeys(names);
}

}  // namespace platform::posix::service_registration
