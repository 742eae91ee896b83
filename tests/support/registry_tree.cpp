// Registry helpers for tests, on the real platform registry.
#include "tests/support/registry_tree.h"

#include <vector>

namespace testsupport {

namespace {
void DeleteChildren(const platform::RegistryKey& key) {
  std::vector<std::string> children;
  key.ListSubkeys(children);
  for (const auto& child : children) {
    platform::RegistryKey sub;
    if (key.Open(child, platform::kKeyAllAccess, sub) == platform::kSuccess) DeleteChildren(sub);
    sub.Close();
    key.DeleteKey(child);
  }
}
}  // namespace

void DeleteRegistryTree(const std::string& path) {
  platform::RegistryKey key;
  if (platform::RegistryKey::LocalMachine().Open(path, platform::kKeyAllAccess, key) !=
      platform::kSuccess)
    return;
  DeleteChildren(key);
  key.Close();
  platform::RegistryKey::LocalMachine().DeleteKey(path);
}

bool ReadRawValue(const std::string& keyPath, const std::string& name, std::string& bytes,
                  std::uint32_t* type) {
  platform::RegistryKey key;
  if (platform::RegistryKey::LocalMachine().Open(keyPath, platform::kKeyQueryValue, key) !=
      platform::kSuccess)
    return false;
  std::uint32_t size = 0;
  if (key.QueryValue(name, type, nullptr, &size) != platform::kSuccess) return false;
  bytes.assign(size, '\0');
  if (key.QueryValue(name, type, bytes.data(), &size) != platform::kSuccess) return false;
  bytes.resize(size);
  return true;
}

bool KeyExists(const std::string& keyPath) {
  platform::RegistryKey key;
  return platform::RegistryKey::LocalMachine().Open(keyPath, platform::kKeyQueryValue, key) ==
         platform::kSuccess;
}

}  // namespace testsupport
