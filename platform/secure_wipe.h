// Overwriting secrets so that no copy of them stays in memory.
#pragma once

#include <string>

namespace platform {

// Overwrites every byte of `secret` with zero, in a way the compiler may not leave out,
// then empties it.
void SecureWipe(std::string& secret) noexcept;

}  // namespace platform
