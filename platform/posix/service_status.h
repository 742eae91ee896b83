// A service's status file: its latest status report and the process that made it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/error.h"
#include "platform/services.h"

namespace platform::posix {

// A process told apart from any later one that gets the same id: its id and the time it
// started (clock ticks since boot, from /proc/<pid>/stat).
struct ProcessIdentity {
  std::int32_t pid = 0;
  std::uint64_t startTime = 0;
};

// The identity of the running process `pid`; false when it is gone or a zombie.
bool IdentifyProcess(std::int32_t pid, ProcessIdentity& identity);
// True while that very process runs.
bool IsRunning(const ProcessIdentity& identity);

struct StatusRecord {
  ProcessIdentity process;
  ServiceStatus status;
};

// Replaces the file at `path` by rename, so that readers see the old record or the new
// one, never a mix; owner-only.
Error WriteStatusRecord(const std::string& path, const StatusRecord& record);
// 2 when there is no file; 13 when it holds no record.
Error ReadStatusRecord(const std::string& path, StatusRecord& record);

// Exit codes of a service that is stopped without having said why.
inline constexpr std::uint32_t kServiceNeverStarted = 1077;
inline constexpr std::uint32_t kProcessEndedUnexpectedly = 1067;

// The status of a service as its status file tells it: stopped with 1077 when it never
// ran; stopped with 1067 when its process ended without reporting stopped (or left a
// file that does not read). Fails only when the file cannot be read at all (e.g. 5).
Error CurrentStatus(const std::string& path, ServiceStatus& status);

}  // namespace platform::posix
