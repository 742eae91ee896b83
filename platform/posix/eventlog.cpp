// Event sources on POSIX: rows of eventlog.db, each also sent to syslog with its text.
#include "platform/eventlog.h"

#include <syslog.h>

#include <cstdio>
#include <new>

#include "platform/clock.h"
#include "platform/posix/event_store.h"
#include "platform/registry.h"
#include "platform/resources.h"

namespace platform {

namespace {

constexpr const char* kEventLogKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog";
constexpr const char* kDefaultLog = "Application";

// What a registered source handle stands for.
struct Source {
  std::string log;
  std::string name;
};

bool HasSource(const RegistryKey& eventLog, const std::string& log, const std::string& source) {
  RegistryKey key;
  return eventLog.Open(log + "\\" + source, kKeyQueryValue, key) == kSuccess;
}

// Windows finds the log whose key lists the source as a subkey; "Application" wins when
// the source is there, and also when it is registered nowhere.
std::string LogOfSource(const std::string& source) {
  RegistryKey eventLog;
  if (source.empty() ||
      RegistryKey::LocalMachine().Open(kEventLogKey, kKeyRead, eventLog) != kSuccess ||
      HasSource(eventLog, kDefaultLog, source))
    return kDefaultLog;
  std::vector<std::string> logs;
  eventLog.ListSubkeys(logs);
  for (const auto& log : logs)
    if (HasSource(eventLog, log, source)) return log;
  return kDefaultLog;
}

int SyslogLevel(std::uint16_t type) {
  switch (type) {
    case kEventError: return LOG_ERR;
    case kEventWarning: return LOG_WARNING;
    default: return LOG_INFO;
  }
}

// A syslog message is one line; insertion strings such as system error texts end in CR LF.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string SyslogText(std::uint32_t eventId, const std::vector<std::string>& strings) {
  std::string text = EventMessageText("", eventId, strings);
  if (text.empty()) {
    char id[32];
    std::snprintf(id, sizeof id, "Event 0x%08X", static_cast<unsigned>(eventId));
    text = id;
    for (const auto& insert : strings) text += "; " + insert;
  }
  return OneLine(std::move(text));
}

const Source* SourceOf(void* handle) { return static_cast<const Source*>(handle); }

}  // namespace

namespace detail {
void DeregisterEventSource(void* handle) noexcept { delete static_cast<Source*>(handle); }
}  // namespace detail

Error EventSourceHandle::Register(const std::string& serverName, const std::string& sourceName) {
  handle_.reset();
  if (!serverName.empty()) return kCallNotImplemented;
  try {
    handle_.reset(new Source{LogOfSource(sourceName), sourceName});
    return kSuccess;
  } catch (const std::bad_alloc&) {
    return kNotEnoughMemory;
  }
}

Error EventSourceHandle::Report(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                                const std::vector<std::string>& strings) const {
  if (!handle_) return kInvalidHandle;
  if (strings.size() > 0xFFFF) return kInvalidParameter;
  const Source& source = *SourceOf(handle_.get());
  try {
    posix::event_store::EventRecord event;
    event.time = CurrentTime();
    event.log = source.log;
    event.source = source.name;
    event.type = type;
    event.category = category;
    event.eventId = eventId;
    for (const auto& text : strings) event.strings.emplace_back(text.c_str());
    const Error stored = posix::event_store::Append(event);
    ::syslog(LOG_DAEMON | SyslogLevel(type), "%s: %s", source.name.c_str(),
             SyslogText(eventId, event.strings).c_str());
    return stored;
  } catch (const std::bad_alloc&) {
    return kNotEnoughMemory;
  }
}

}  // namespace platform
