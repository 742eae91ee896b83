// The input format and the checked properties that the two substitution targets share.
//
// Input: the low four bits of the first byte say how many of the stored values below the
// input sets (at most all of them); that many "\n"-separated texts follow, and the rest is
// the command. Values not set by an input are absent, so inputs do not see each other.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/variable_table.h"
#include "tests/fuzz/fail.h"

namespace fuzzsupport {

struct StoredValue {
  const char* key;
  const char* name;
};

inline constexpr StoredValue kStoredValues[] = {
    {"SOFTWARE\\Sorvane\\Meridel Server\\Installer", "Hostname"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\ZAVReports", "SOAPHost"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\ZAVReports", "LMHTTP"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\ZAVReports", "SOAPPassword"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\ZAVReports", "SOAPUsername"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\Database", "DSN"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\Database", "Password"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\Pallodex", "Username"},
};
inline constexpr std::size_t kStoredCount = sizeof kStoredValues / sizeof kStoredValues[0];

// One input: the bytes of each stored value (absent: not set) and the command.
struct SubstituteInput {
  std::array<std::optional<std::string_view>, kStoredCount> values;
  std::string command;
};

// Empty for an empty input.
inline std::optional<SubstituteInput> SplitSubstituteInput(const std::uint8_t* data,
                                                           std::size_t size) {
  if (size == 0) return std::nullopt;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::size_t toSet = data[0] & 0x0F;
  if (toSet > kStoredCount) toSet = kStoredCount;
  SubstituteInput input;
  for (std::size_t i = 0; i < kStoredCount; ++i) {
    const auto end = rest.find('\n');
    if (i >= toSet || end == std::string_view::npos) continue;
    input.values[i] = rest.substr(0, end);
    rest.remove_prefix(end + 1);
  }
  input.command = std::string(rest);
  return input;
}

// Substitutes `command` twice with `table`: the full text stays within the expansion bound,
// a text without references comes back unchanged, and the second result equals the first.
inline void CheckSubstitution(hvs::VariableTable& table, const std::string& command,
                              const char* target) {
  std::string display;
  const std::string full = table.Substitute(command, display);
  if (full.size() > command.size() + hvs::kMaxExpandedBytes)
    Fail(target, "full text beyond the limit");
  if (command.find('%') == std::string::npos && (full != command || display != command))
    Fail(target, "text without references changed");
  std::string again;
  if (table.Substitute(command, again) != full || again != display)
    Fail(target, "a second substitution differs");
}

}  // namespace fuzzsupport
