// Registry value types and data in reg.exe's text forms: its /t and /d arguments, its output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hvsctl {

// "REG_SZ" for 1 and so on; "REG_UNKNOWN" for a number without a name.
std::string TypeName(std::uint32_t type);

// The type that `reg add /t NAME` means (any case): REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ,
// REG_BINARY or REG_DWORD; nothing for any other name.
std::optional<std::uint32_t> ParseTypeName(std::string_view name);

// The data column of `reg query`: texts up to their NUL, list entries joined by the two
// characters `\0`, a DWORD as 0x%x, anything else as upper-case hex digits.
std::string FormatData(std::uint32_t type, std::string_view bytes);

// The bytes that `reg add /t type /d text` stores: texts with their NUL, lists split at `\0`
// with the list's closing NUL, DWORDs from decimal or 0x hex, binary from hex digit pairs.
// Nothing when `text` is not valid for `type`.
std::optional<std::string> EncodeData(std::uint32_t type, std::string_view text);

}  // namespace hvsctl
