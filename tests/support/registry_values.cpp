// Registry writes for tests, on the real platform registry.
#include "tests/support/registry_values.h"

#include <gtest/gtest.h>

namespace testsupport {

void PutValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
              const std::string& bytes) {
  platform::RegistryKey handle;
  ASSERT_EQ(platform::RegistryKey::LocalMachine().Create(keyPath, platform::kKeyAllAccess, handle),
            platform::kSuccess);
  ASSERT_EQ(handle.SetValue(name, type, bytes.data(), static_cast<std::uint32_t>(bytes.size())),
            platform::kSuccess);
}

}  // namespace testsupport
