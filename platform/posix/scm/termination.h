// SIGTERM (a shutdown, an operator's kill) as a stop control for the dispatched service.
#pragma once

#include <cstdint>

#include "platform/posix/unique_fd.h"

namespace platform::posix::dispatcher {

// Blocks SIGTERM in the calling thread, and so in every thread started from it, and returns
// a signalfd that reads it; none on failure (errno tells why).
UniqueFd TakeTermination();

// A SIGTERM that came and is not delivered yet. Only the dispatcher's own thread uses it.
class Termination {
 public:
  // Watches `signals` (from TakeTermination), with nothing pending.
  void Reset(UniqueFd signals);
  void Close() { signals_.reset(); }
  int fd() const { return signals_.get(); }
  bool Pending() const { return pending_; }

  // Reads the signals that came; after one a stop is pending.
  void Take();
  // Whether to deliver the pending stop now to a service in `state`: it waits while the
  // service is start pending, and is dropped while the service stops or has stopped.
  bool StopDue(std::uint32_t state);

 private:
  UniqueFd signals_;
  bool pending_ = false;
};

}  // namespace platform::posix::dispatcher
