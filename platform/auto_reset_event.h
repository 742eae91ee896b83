// An event that wakes one wait and is cleared by it: how the service's controls cut a tick short.
#pragma once

#include <cstdint>

#include "platform/error.h"
#include "platform/manual_reset_event.h"

namespace platform {

// Set may come from any thread; the next Wait (or the one under way) returns at once and
// clears it, so each Set ends at most one wait. Move-only; the destructor closes it. Never
// created (or its creation failed), it is never set: a Wait then sleeps its whole time.
class AutoResetEvent {
 public:
  // Creates the event, not set, replacing any event held.
  Error Create();
  bool IsOpen() const noexcept { return handle_.valid(); }
  // Sets the event; 6 when none is open.
  Error Set();
  // True as soon as the event is set (clearing it), false once `milliseconds` have passed
  // without that. Measured on a monotonic clock: a change of the time of day changes nothing.
  bool Wait(std::uint32_t milliseconds);

 private:
  UniqueEventHandle handle_;
};

}  // namespace platform
