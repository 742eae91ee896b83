// The event log: an event source registered for writing, and the events written through it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/unique_any.h"

namespace platform {

// Event types (the event log's own numbers).
inline constexpr std::uint16_t kEventSuccess = 0x0000;
inline constexpr std::uint16_t kEventError = 0x0001;
inline constexpr std::uint16_t kEventWarning = 0x0002;
inline constexpr std::uint16_t kEventInformation = 0x0004;
inline constexpr std::uint16_t kEventAuditSuccess = 0x0008;
inline constexpr std::uint16_t kEventAuditFailure = 0x0010;

namespace detail {
void DeregisterEventSource(void* handle) noexcept;
}

// A registered event source. Move-only; the destructor deregisters it.
//
// Windows: RegisterEventSourceA / ReportEventA / DeregisterEventSource. POSIX: every event
// is a row of StateDirectory()/eventlog.db (time, log, source, type, category, id,
// insertion strings) and a syslog line with the event's text from the program's message
// table. The log is the one under whose registry key
// SYSTEM\CurrentControlSet\Services\EventLog\<log>\<source> the source is registered,
// "Application" when it is registered nowhere else.
class EventSourceHandle {
 public:
  // Registers `sourceName` on `serverName` (empty: this machine), replacing any source
  // held. A source that was never installed can be registered all the same. POSIX has no
  // remote event logs: a server name there is 120.
  Error Register(const std::string& serverName, const std::string& sourceName);
  bool IsOpen() const noexcept { return handle_.valid(); }
  void Close() noexcept { handle_.reset(); }

  // Writes one event without a user identity and without raw data; 6 when no source is
  // registered. At most 65535 insertion strings (else 87).
  Error Report(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
               const std::vector<std::string>& strings) const;

 private:
  UniqueAny<void*, &detail::DeregisterEventSource> handle_;
};

}  // namespace platform
