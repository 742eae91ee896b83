// Time on POSIX, with the zone described as Windows' GetTimeZoneInformation does.
#include "platform/clock.h"

#include <time.h>

#include <cerrno>

namespace platform {

std::int64_t CurrentTime() noexcept { return static_cast<std::int64_t>(::time(nullptr)); }

bool ToLocalTime(std::int64_t time, std::tm& local) noexcept {
  const time_t value = static_cast<time_t>(time);
  return ::localtime_r(&value, &local) != nullptr;
}

std::int64_t FromLocalTime(std::tm& local) noexcept {
  return static_cast<std::int64_t>(::mktime(&local));
}

bool CurrentZone(ZoneInformation& zone) noexcept {
  ::tzset();
  std::tm local {};
  if (!ToLocalTime(CurrentTime(), local)) return false;
  const std::int32_t biasNow = static_cast<std::int32_t>(-local.tm_gmtoff / 60);
  zone = {};
  if (local.tm_isdst > 0) {
    // `timezone` holds the standard offset; the daylight bias is what daylight saving adds.
    zone.status = ZoneInformation::Status::Daylight;
    zone.bias = static_cast<std::int32_t>(::timezone / 60);
    zone.daylightBias = biasNow - zone.bias;
  } else {
    zone.status = ::daylight ? ZoneInformation::Status::Standard : ZoneInformation::Status::Unknown;
    zone.bias = biasNow;
  }
  return true;
}

std::uint32_t TickCount() noexcept {
  struct timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const std::uint64_t milliseconds =
      static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(milliseconds);
}

void SleepMilliseconds(std::uint32_t milliseconds) noexcept {
  struct timespec remaining {static_cast<time_t>(milliseconds / 1000),
                             static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
