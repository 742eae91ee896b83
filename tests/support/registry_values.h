// Registry values that a test sets up; a failed write fails the calling test.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace testsupport {

// Stores exactly `bytes` as value `name` of `type` in HKLM\`keyPath`, creating the key.
void PutValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
              const std::string& bytes);

// Stores `text` as a REG_SZ value, without a terminating NUL.
inline void PutString(const std::string& keyPath, const std::string& name,
                      const std::string& text) {
  PutValue(keyPath, name, platform::kRegSz, text);
}

}  // namespace testsupport
