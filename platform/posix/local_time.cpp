// The local offset from the C library's zone (TZ, else /etc/localtime).
#include "platform/local_time.h"

#include <time.h>

#include <ctime>

namespace platform {

namespace {
constexpr std::int64_t kLatest = 32503680000;  // 3000-01-01, as far as Windows goes
}  // namespace

bool LocalOffsetAt(std::int64_t time, std::int32_t& offsetSeconds) noexcept {
  if (time < 0 || time >= kLatest) return false;
  const time_t value = static_cast<time_t>(time);
  std::tm local{};
  if (::localtime_r(&value, &local) == nullptr) return false;
  offsetSeconds = static_cast<std::int32_t>(local.tm_gmtoff);
  return true;
}

}  // namespace platform
