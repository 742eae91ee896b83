// RegistryKey::DeleteTree, on top of the key operations of either platform.
#include "platform/registry.h"

namespace platform {

Error RegistryKey::DeleteTree(std::string_view path) const {
  RegistryKey key;
  if (Error error = Open(path, kKeyEnumerateSubKeys, key)) return error;
  std::vector<std::string> subkeys;
  if (Error error = key.ListSubkeys(subkeys)) return error;
  for (const auto& name : subkeys) {
    const Error error = key.DeleteTree(name);
    if (error != kSuccess && error != kFileNotFound) return error;
  }
  key.Close();
  return DeleteKey(path);
}

}  // namespace platform
