// Time: UTC seconds, local broken-down time, the time-zone bias and a millisecond tick.
#pragma once

#include <cstdint>
#include <ctime>

#include "platform/files.h"

namespace platform {

// Seconds since 1970-01-01 00:00 UTC, 64-bit.
std::int64_t CurrentTime() noexcept;
// Local broken-down time of `time`; false when it cannot be converted.
bool ToLocalTime(std::int64_t time, std::tm& local) noexcept;
// Inverse of ToLocalTime, normalising `local` as mktime does; -1 on failure.
std::int64_t FromLocalTime(std::tm& local) noexcept;

// Seconds since 1970 of a file time (rounded down).
std::int64_t FileTimeToSeconds(FileTime time) noexcept;
FileTime SecondsToFileTime(std::int64_t seconds) noexcept;

// The zone as Windows describes it: minutes west of UTC.
struct ZoneInformation {
  enum class Status { Unknown, Standard, Daylight };
  Status status = Status::Unknown;
  std::int32_t bias = 0;          // UTC = local time + bias
  std::int32_t standardBias = 0;  // added to bias in standard time
  std::int32_t daylightBias = 0;  // added to bias in daylight-saving time
};
// The zone in force now; false when the system cannot tell.
bool CurrentZone(ZoneInformation& zone) noexcept;

// Milliseconds since some start, wrapping at 2^32.
std::uint32_t TickCount() noexcept;
// Suspends the calling thread.
void SleepMilliseconds(std::uint32_t milliseconds) noexcept;

// The current time as the service's parts see it; tests give them a clock of their own.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t Now() const { return CurrentTime(); }
};
// The system's clock.
const Clock& SystemClock() noexcept;

}  // namespace platform
