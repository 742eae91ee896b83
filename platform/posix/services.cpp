// The service side on POSIX: the dispatcher of our service control manager, console events from signals.
#include "platform/services.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <system_error>
#include <thread>

#include "platform/posix/errno_map.h"
#include "platform/posix/scm/service_dispatcher.h"

namespace platform {

// The name is not looked at: as on Windows for a service of its own process, the one
// service this process was started for is the one that runs.
Error StartServiceDispatcher(char* /*name*/, ServiceMainFunction entry) {
  return posix::dispatcher::Run(entry);
}

ControlHandlerRegistration::ControlHandlerRegistration() noexcept = default;

// The service control of this platform has the extended form always.
bool ControlHandlerRegistration::HasExtendedForm() const noexcept { return true; }

ServiceStatusHandle ControlHandlerRegistration::RegisterExtended(const char* /*name*/,
                                                                 ControlHandlerExFunction handler,
                                                                 void* context,
                                                                 Error& error) const noexcept {
  return posix::dispatcher::Register(handler, nullptr, context, error);
}

ServiceStatusHandle ControlHandlerRegistration::Register(const char* /*name*/,
                                                         ControlHandlerFunction handler,
                                                         Error& error) const noexcept {
  return posix::dispatcher::Register(nullptr, handler, nullptr, error);
}

Error SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) noexcept {
  return posix::dispatcher::Report(handle, status);
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
