// Text comparison as the Windows C runtime does it for names of files and processes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Compares two texts without regard to case: < 0, 0 or > 0. Windows compares them as
// multibyte text of the ANSI code page (a double-byte character is one unit, letters of
// the code page fold); POSIX folds the ASCII letters only and compares other bytes as
// they are. Both stop at the first NUL.
int CompareNoCase(const std::string& a, const std::string& b) noexcept;

// An upper-case copy of `text` (Windows: the letters of the ANSI code page, double-byte
// characters kept whole; POSIX: the ASCII letters).
std::string ToUpperCase(std::string_view text);

// The C runtime's atoi, defined for every input: leading white space skipped, an optional
// sign, then decimal digits up to the first other character; 0 when there are none. Values
// beyond 32 bits saturate at the limits, as the Windows runtime's atoi does.
std::int32_t AtoiValue(std::string_view text) noexcept;
// The same rules for a 64-bit number (the runtime's _atoi64): saturates at the 64-bit limits.
std::int64_t Atoi64Value(std::string_view text) noexcept;

}  // namespace platform
