// Time over the C runtime's 64-bit time calls and the Win32 zone and tick calls.
#include "platform/clock.h"

#include <windows.h>

#include <time.h>

namespace platform {

std::int64_t CurrentTime() noexcept { return static_cast<std::int64_t>(::_time64(nullptr)); }

bool ToLocalTime(std::int64_t time, std::tm& local) noexcept {
  const __time64_t value = time;
  return ::_localtime64_s(&local, &value) == 0;
}

std::int64_t FromLocalTime(std::tm& local) noexcept {
  return static_cast<std::int64_t>(::_mktime64(&local));
}

bool CurrentZone(ZoneInformation& zone) noexcept {
  TIME_ZONE_INFORMATION info;
  const DWORD status = ::GetTimeZoneInformation(&info);
  if (status == TIME_ZONE_ID_INVALID) return false;
  zone = {};
  switch (status) {
    case TIME_ZONE_ID_STANDARD: zone.status = ZoneInformation::Status::Standard; break;
    case TIME_ZONE_ID_DAYLIGHT: zone.status = ZoneInformation::Status::Daylight; break;
    default: zone.status = ZoneInformation::Status::Unknown; break;
  }
  zone.bias = info.Bias;
  zone.standardBias = info.StandardBias;
  zone.daylightBias = info.DaylightBias;
  return true;
}

std::uint32_t TickCount() noexcept { return ::GetTickCount(); }

void SleepMilliseconds(std::uint32_t milliseconds) noexcept { ::Sleep(milliseconds); }

}  // namespace platform
