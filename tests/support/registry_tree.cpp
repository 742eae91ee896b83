// Registry helpers for tests, on the real platform registry.
#include "tests/support/registry_tree.h"

namespace testsupport {

void DeleteRegistryTree(const std::string& path) {
  // A missing key is what the caller wants; a test that depends on the deletion checks it.
  platform::RegistryKey::LocalMachine().DeleteTree(path);
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
