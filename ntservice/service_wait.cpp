// WaitForState: polling a service's status against the tick count.
#include "ntservice/service_wait.h"

namespace hvs {

WaitTimer& SystemWaitTimer() noexcept {
  static WaitTimer timer;
  return timer;
}

bool WaitForState(const ServiceHandle& service, std::uint32_t targetState, std::uint32_t limitMs,
                  std::uint32_t pollMs, platform::Error& error, WaitTimer& timer) {
  const std::uint32_t start = timer.Tick();
  platform::ServiceStatus status;
  if ((error = service.service().QueryStatus(status)) != platform::kSuccess) return false;
  while (status.currentState != targetState) {
    timer.Sleep(pollMs);
    // Unsigned difference: a wrap of the tick counter between the two ticks does no harm.
    if (limitMs != kNoWaitLimit && timer.Tick() - start > limitMs) {
      error = platform::kTimeout;
      return false;
    }
    if ((error = service.service().QueryStatus(status)) != platform::kSuccess) return false;
  }
  return true;
}

}  // namespace hvs
