// The service side on POSIX: console events from signals; the dispatcher refuses a console start.
#include "platform/services.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <system_error>
#include <thread>

#include "platform/posix/errno_map.h"

namespace platform {

// Only a process that a service control manager started can be dispatched, and told
// through its environment where to report; nothing here started this one, so, as on
// Windows when a service program is run from a console, there is nothing to connect to.
Error StartServiceDispatcher(char* /*name*/, ServiceMainFunction /*entry*/) {
  return kFailedServiceControllerConnect;
}

ControlHandlerRegistration::ControlHandlerRegistration() noexcept = default;

// The service control of this platform speaks the extended form only.
bool ControlHandlerRegistration::HasExtendedForm() const noexcept { return true; }

// Registration belongs to a service that the dispatcher runs, and no dispatcher runs one
// in this process (see StartServiceDispatcher).
ServiceStatusHandle ControlHandlerRegistration::RegisterExtended(const char* /*name*/,
                                                                 ControlHandlerExFunction /*handler*/,
                                                                 void* /*context*/,
                                                                 Error& error) const noexcept {
  error = kFailedServiceControllerConnect;
  return 0;
}

ServiceStatusHandle ControlHandlerRegistration::Register(const char* /*name*/,
                                                         ControlHandlerFunction /*handler*/,
                                                         Error& error) const noexcept {
  error = kFailedServiceControllerConnect;
  return 0;
}

// No registration ever succeeds here, so no handle can be valid.
Error SetServiceStatus(ServiceStatusHandle /*handle*/, const ServiceStatus& /*status*/) noexcept {
  return kInvalidHandle;
}

namespace {

std::atomic<ConsoleControlFunction> consoleHandler{nullptr};

sigset_t ConsoleSignals() {
  sigset_t signals;
  ::sigemptyset(&signals);
  for (const int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) ::sigaddset(&signals, signal);
  return signals;
}

std::uint32_t ConsoleEventOf(int signal) {
  switch (signal) {
    case SIGINT: return kConsoleCtrlC;
    case SIGQUIT: return kConsoleCtrlBreak;
    default: return kConsoleClose;
  }
}

// Lets `signal` do whatever its disposition says, as if nobody had waited for it: by
// default that ends the process, like Windows' own handler after ours declines.
void RunDefaultAction(int signal) {
  sigset_t one;
  ::sigemptyset(&one);
  ::sigaddset(&one, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  ::raise(signal);
  ::pthread_sigmask(SIG_BLOCK, &one, nullptr);
}

void WaitForConsoleSignals() noexcept {
  const sigset_t signals = ConsoleSignals();
  for (;;) {
    int signal = 0;
    if (::sigwait(&signals, &signal) != 0) continue;
    const ConsoleControlFunction handler = consoleHandler.load();
    if (handler == nullptr || !handler(ConsoleEventOf(signal))) RunDefaultAction(signal);
  }
}

// Blocked everywhere, the signals stay pending until the waiting thread takes them,
// instead of interrupting whichever thread they land on.
Error StartConsoleThread() {
  const sigset_t signals = ConsoleSignals();
  sigset_t previous;
  const int blocked = ::pthread_sigmask(SIG_BLOCK, &signals, &previous);
  if (blocked != 0) return posix::FromErrno(blocked);
  try {
    std::thread(WaitForConsoleSignals).detach();  // inherits the block it waits on
  } catch (const std::system_error& failure) {
    // With nobody waiting, blocked signals would never stop the program.
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return posix::FromErrno(failure.code().value());
  }
  return kSuccess;
}

}  // namespace

Error AddConsoleControlHandler(ConsoleControlFunction handler) {
  consoleHandler = handler;
  static const Error started = StartConsoleThread();
  return started;
}

}  // namespace platform
