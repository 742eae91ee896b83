// The string table and the event texts on POSIX: both compiled in from resources/*.def.
#include "platform/resources.h"

#include <algorithm>
#include <iterator>

namespace platform {

namespace {

struct Text {
  std::uint32_t id;
  const char* text;
};

#define HVS_STRING(id, text) {id, text},
constexpr Text kStrings[] = {
#include "resources/strings.def"
};
#undef HVS_STRING

#define HVS_EVENT(id, text) {id, text},
constexpr Text kEvents[] = {
#include "resources/events.def"
};
#undef HVS_EVENT

const char* Find(const Text* begin, const Text* end, std::uint32_t id) {
  const auto found = std::find_if(begin, end, [id](const Text& entry) { return entry.id == id; });
  return found == end ? nullptr : found->text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One pass, as FormatMessage does: an insertion string is never expanded again.
std::string Expand(const char* text, const std::vector<std::string>& inserts) {
  std::string out;
  for (const char* at = text; *at != '\0';) {
    if (at[0] == '%' && at[1] == '%') {
      out += '%';
      at += 2;
      continue;
    }
    if (at[0] == '%' && IsDigit(at[1]) && at[1] != '0') {
      const bool twoDigits = IsDigit(at[2]);
      const std::size_t length = twoDigits ? 3 : 2;
      const std::size_t number =
          static_cast<std::size_t>(twoDigits ? (at[1] - '0') * 10 + (at[2] - '0') : at[1] - '0');
      if (number <= inserts.size()) out += inserts[number - 1];
      else out.append(at, length);
      at += length;
      continue;
    }
    out += *at++;
  }
  return out;
}

}  // namespace

std::string LoadResourceString(std::uint32_t id) {
  const char* text = Find(std::begin(kStrings), std::end(kStrings), id);
  return text ? text : "";
}

std::string EventMessageText(const std::string& /*messageFile*/, std::uint32_t eventId,
                             const std::vector<std::string>& inserts) {
  const char* text = Find(std::begin(kEvents), std::end(kEvents), eventId);
  return text ? Expand(text, inserts) : "";
}

}  // namespace platform
