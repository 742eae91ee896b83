// `hvsctl events`: reads eventlog.db through the platform and prints it line by line.
#include "tools/hvsctl/events_command.h"

#include <cstdio>
#include <ctime>
#include <ostream>

#include "platform/clock.h"
#include "platform/eventlog.h"
#include "platform/posix/event_store.h"

namespace hvsctl {

namespace {

using platform::posix::event_store::EventRecord;

std::string LocalTime(std::int64_t time) {
  std::tm local{};
  char text[32] = "0000-00-00 00:00:00";
  if (platform::ToLocalTime(time, local)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string TypeName(std::uint16_t type) {
  switch (type) {
    case platform::kEventError: return "Error";
    case platform::kEventWarning: return "Warning";
    case platform::kEventSuccess:
    case platform::kEventInformation: return "Information";
    case platform::kEventAuditSuccess: return "Audit Success";
    case platform::kEventAuditFailure: return "Audit Failure";
    default: return std::to_string(type);
  }
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += hex;
        } else {
          out += c;
        }
    }
  }
  return out;
}

void PrintEvent(const EventRecord& event, std::ostream& out) {
  char id[16];
  std::snprintf(id, sizeof id, "0x%08X", static_cast<unsigned>(event.eventId));
  out << LocalTime(event.time) << '\t' << Escaped(event.source) << '\t' << TypeName(event.type)
      << '\t' << id;
  for (const auto& text : event.strings) out << '\t' << Escaped(text);
  out << '\n';
}

}  // namespace

int RunEventsCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  if (words.size() == 1 && words[0] == "/?") {
    out << "Usage: hvsctl events\n";
    return 0;
  }
  if (!words.empty()) {
    err << "ERROR: Invalid syntax.\nUsage: hvsctl events\n";
    return 1;
  }
  std::vector<EventRecord> events;
  if (const platform::Error error = platform::posix::event_store::ReadAll(events)) {
    err << "ERROR: The event log cannot be read (error " << error << ").\n";
    return 1;
  }
  for (const auto& event : events) PrintEvent(event, out);
  return 0;
}

}  // namespace hvsctl
