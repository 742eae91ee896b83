// The POSIX event log's store: StateDirectory()/eventlog.db, one row per event in writing order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/error.h"

namespace platform::posix::event_store {

struct EventRecord {
  std::int64_t record = 0;  // 1, 2, ... in the order of writing; set by Append
  std::int64_t time = 0;    // seconds since 1970-01-01 00:00 UTC
  std::string log;
  std::string source;
  std::uint16_t type = 0;
  std::uint16_t category = 0;
  std::uint32_t eventId = 0;
  std::vector<std::string> strings;  // each cut at its first NUL, as the Win32 call sees it
};

// Appends one event as one transaction. Each call opens a connection of its own and closes
// it again; calls of one process take turns.
Error Append(const EventRecord& event);
// Every event, oldest first.
Error ReadAll(std::vector<EventRecord>& events);

}  // namespace platform::posix::event_store
