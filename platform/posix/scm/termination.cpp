// SIGTERM read from a signalfd, held back until the service can take a stop.
#include "platform/posix/scm/termination.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <utility>

#include "platform/services.h"

namespace platform::posix::dispatcher {

UniqueFd TakeTermination() {
  sigset_t signals;
  ::sigemptyset(&signals);
  ::sigaddset(&signals, SIGTERM);
  if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return UniqueFd();
  return UniqueFd(::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
}

void Termination::Reset(UniqueFd signals) {
  signals_ = std::move(signals);
  pending_ = false;
}

void Termination::Take() {
  signalfd_siginfo signal {};
  while (::read(signals_.get(), &signal, sizeof signal) == static_cast<ssize_t>(sizeof signal))
    pending_ = true;
}

bool Termination::StopDue(std::uint32_t state) {
  if (!pending_ || state == kServiceStartPending) return false;
  pending_ = false;
  return state != kServiceStopPending && state != kServiceStopped;
}

}  // namespace platform::posix::dispatcher
