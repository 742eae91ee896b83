// Registry clean-up for tests: removes a key with everything below it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace testsupport {

// Deletes HKLM\`path` and all its subkeys, deepest first; a missing key is fine.
void DeleteRegistryTree(const std::string& path);

// Reads a value's raw bytes; false when it is absent.
bool ReadRawValue(const std::string& keyPath, const std::string& name, std::string& bytes,
                  std::uint32_t* type = nullptr);
bool KeyExists(const std::string& keyPath);

}  // namespace testsupport
