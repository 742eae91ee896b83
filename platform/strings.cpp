// The parts of the text interface that need no system call.
#include "platform/strings.h"

#include <limits>

namespace platform {

namespace {

// atoi's reading of `text`, the magnitude cut at `maximum` (or one more for a negative number).
std::int64_t ParseDecimal(std::string_view text, std::uint64_t maximum) noexcept {
  std::size_t at = 0;
  // The C runtime's isspace in the "C" locale.
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  const std::uint64_t limit = negative ? maximum + 1 : maximum;
  std::uint64_t magnitude = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    const auto digit = static_cast<std::uint64_t>(text[at] - '0');
    if (magnitude > (limit - digit) / 10) {
      magnitude = limit;
      break;
    }
    magnitude = magnitude * 10 + digit;
  }
  // Two's complement: the negated magnitude fits, INT64_MIN included.
  return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

}  // namespace

std::int32_t AtoiValue(std::string_view text) noexcept {
  return static_cast<std::int32_t>(ParseDecimal(text, std::numeric_limits<std::int32_t>::max()));
}

std::int64_t Atoi64Value(std::string_view text) noexcept {
  return ParseDecimal(text, std::numeric_limits<std::int64_t>::max());
}

}  // namespace platform
