// The parts of the time interface that need no system call.
#include "platform/clock.h"

namespace platform {

namespace {
// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;
}  // namespace

std::int64_t FileTimeToSeconds(FileTime time) noexcept {
  return static_cast<std::int64_t>(time / kTicksPerSecond) - kEpochDifference;
}

FileTime SecondsToFileTime(std::int64_t seconds) noexcept {
  return static_cast<FileTime>(seconds + kEpochDifference) * kTicksPerSecond;
}

const Clock& SystemClock() noexcept {
  static const Clock clock;
  return clock;
}

}  // namespace platform
