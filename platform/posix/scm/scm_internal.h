// What the files of the POSIX service control manager share: Windows numbers, waits, processes.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/error.h"
#include "platform/service_manager.h"  // the public service errors and controls

namespace platform::posix {

// The Windows errors that the service control manager gives besides its public ones.
inline constexpr Error kInvalidName = 123;
inline constexpr Error kFileNameTooLong = 206;
inline constexpr Error kInvalidServiceControl = 1052;
inline constexpr Error kServiceNoThread = 1054;
inline constexpr Error kInvalidServiceAccount = 1057;
inline constexpr Error kServiceDisabled = 1058;
inline constexpr Error kServiceLogonFailed = 1069;
// The exit code of a service that is stopped and never ran.
inline constexpr Error kServiceNeverStarted = 1077;

// True when `fd` becomes readable within `timeout`; false on time-out or failure. A signal
// that interrupts the wait does not shorten it.
bool WaitReadable(int fd, std::chrono::milliseconds timeout);

// The start of the small file at `path` (up to 1 KiB), read without following a link or
// waiting on a FIFO; false with `error` (an errno) when it cannot be read.
bool ReadSmallFile(const std::string& path, std::string& content, int& error);

// A process told apart from any later one that gets the same id: its id, the time it
// started (clock ticks since boot, from /proc/<pid>/stat) and the boot that time counts
// from (/proc/sys/kernel/random/boot_id), so that a record left from before a reboot
// never names a process of this one.
struct ProcessIdentity {
  std::int32_t pid = 0;
  std::uint64_t startTime = 0;
  std::string bootId;
};

// This boot's id; empty when the system does not tell it.
const std::string& CurrentBootId();

// The identity of the running process `pid`; false when it is gone or a zombie.
bool IdentifyProcess(std::int32_t pid, ProcessIdentity& identity);
// True while that very process runs.
bool IsRunning(const ProcessIdentity& identity);

}  // namespace platform::posix
