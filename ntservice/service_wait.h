// Waiting until an installed service has reached a state.
#pragma once

#include <cstdint>

#include "ntservice/service_handle.h"
#include "platform/clock.h"
#include "platform/error.h"

namespace hvs {

// A wait limit that never runs out.
inline constexpr std::uint32_t kNoWaitLimit = 0xFFFFFFFF;
// How often the verbs and the removal look at the service's state while they wait.
inline constexpr std::uint32_t kPollIntervalMs = 250;

// The tick count and the pause between two looks at the service; tests give a wait
// their own.
class WaitTimer {
 public:
  virtual ~WaitTimer() = default;
  virtual std::uint32_t Tick() { return platform::TickCount(); }
  virtual void Sleep(std::uint32_t milliseconds) { platform::SleepMilliseconds(milliseconds); }
};
WaitTimer& SystemWaitTimer() noexcept;

// Queries the service's status, then every `pollMs` again until it shows `targetState`.
// False with `error` set when a query fails, or with 1460 when, after a pause, more than
// `limitMs` have passed since the start (kNoWaitLimit: never). A limit of 0 therefore
// succeeds only when the first query shows the state already.
bool WaitForState(const ServiceHandle& service, std::uint32_t targetState, std::uint32_t limitMs,
                  std::uint32_t pollMs, platform::Error& error,
                  WaitTimer& timer = SystemWaitTimer());

}  // namespace hvs
