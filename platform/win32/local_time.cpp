// The local offset from the zone Windows is set to, with the daylight-saving rules of each year.
#include "platform/local_time.h"

#include <windows.h>

namespace platform {

namespace {

// Seconds between 1601-01-01 and 1970-01-01, and 100 ns units a second.
constexpr std::int64_t kEpochDifference = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kLatest = 32503680000;  // 3000-01-01

FILETIME ToFileTime(std::int64_t ticks) {
  const auto value = static_cast<std::uint64_t>(ticks);
  return {static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

std::int64_t Ticks(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

}  // namespace

bool LocalOffsetAt(std::int64_t time, std::int32_t& offsetSeconds) noexcept {
  if (time < 0 || time >= kLatest) return false;
  const std::int64_t ticks = (time + kEpochDifference) * kTicksPerSecond;
  const FILETIME utcFile = ToFileTime(ticks);
  SYSTEMTIME utc;
  SYSTEMTIME local;
  FILETIME localFile;
  TIME_ZONE_INFORMATION zone;
  if (!::FileTimeToSystemTime(&utcFile, &utc)) return false;
  // The zone's rules of that year where the system keeps them per year, else today's.
  const bool ofYear = ::GetTimeZoneInformationForYear(utc.wYear, nullptr, &zone);
  if (!::SystemTimeToTzSpecificLocalTime(ofYear ? &zone : nullptr, &utc, &local) ||
      !::SystemTimeToFileTime(&local, &localFile))
    return false;
  offsetSeconds = static_cast<std::int32_t>((Ticks(localFile) - ticks) / kTicksPerSecond);
  return true;
}

}  // namespace platform
