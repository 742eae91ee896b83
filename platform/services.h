// The service side of the service control manager: dispatcher, control handler, status, console events.
#pragma once

#include <cstdint>

#include "platform/error.h"

namespace platform {

// Service states and the controls a status record announces (the Win32 numbers).
inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kServiceContinuePending = 5;
inline constexpr std::uint32_t kServicePausePending = 6;
inline constexpr std::uint32_t kServicePaused = 7;

inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr std::uint32_t kServiceAcceptStop = 0x1;
inline constexpr std::uint32_t kServiceAcceptPauseContinue = 0x2;

inline constexpr Error kFailedServiceControllerConnect = 1063;
inline constexpr Error kExceptionInService = 1064;

// One status report, field for field the Win32 SERVICE_STATUS record.
struct ServiceStatus {
  std::uint32_t serviceType = kServiceWin32OwnProcess;
  std::uint32_t currentState = kServiceStopped;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;
};

// The handle a control handler registration gives; 0 is none. The service control
// manager owns it: it is never closed.
using ServiceStatusHandle = std::uintptr_t;

// Called on a new thread for the service with its start arguments.
using ServiceMainFunction = void (*)(std::uint32_t argc, char** argv);
// The extended control handler: control, event type, event data, registration context
// → the answer to the control (0 when handled).
using ControlHandlerExFunction = std::uint32_t (*)(std::uint32_t control, std::uint32_t eventType,
                                                   void* eventData, void* context);
// The plain control handler, for systems without the extended form.
using ControlHandlerFunction = void (*)(std::uint32_t control);

// Hands the calling thread to the service control dispatcher, which runs the one service
// `name` (a buffer that must stay alive and unchanged during the call) by calling `entry`
// on a new thread; returns when that service has stopped, with 0. A process that the
// service control manager did not start fails at once with 1063.
Error StartServiceDispatcher(char* name, ServiceMainFunction entry);

// Registration of the control handler of the service that the dispatcher runs. The
// extended form is looked up once, at construction, in the service library the process
// has already loaded (no library is loaded for it); where it is missing only the plain
// form registers.
class ControlHandlerRegistration {
 public:
  ControlHandlerRegistration() noexcept;

  // Windows: whether the service library has the extended form; POSIX: always.
  bool HasExtendedForm() const noexcept;

  // Registers `handler` with `context` for service `name`; 0 with `error` set on
  // failure, and always 120 when the extended form is missing.
  ServiceStatusHandle RegisterExtended(const char* name, ControlHandlerExFunction handler,
                                       void* context, Error& error) const noexcept;
  // Registers the plain `handler` for service `name`; 0 with `error` set on failure.
  ServiceStatusHandle Register(const char* name, ControlHandlerFunction handler,
                               Error& error) const noexcept;

 private:
  void* extendedEntry_ = nullptr;  // Windows only: RegisterServiceCtrlHandlerExA
};

// Sends `status` for the service behind `handle`; 6 when the handle is none or stale.
Error SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) noexcept;

// Console events: 0 Ctrl+C, 1 Ctrl+Break, 2 the console closes; 5 (log-off) and 6 (system
// shutdown) exist on Windows only. The handler returns true when it has dealt with the
// event; false lets the system's default run, which ends the process. For 2, 5 and 6
// Windows ends the process as soon as the handler returns, whatever it answers, and at
// the latest about 5 s after the event.
inline constexpr std::uint32_t kConsoleCtrlC = 0;
inline constexpr std::uint32_t kConsoleCtrlBreak = 1;
inline constexpr std::uint32_t kConsoleClose = 2;
inline constexpr std::uint32_t kConsoleLogoff = 5;
inline constexpr std::uint32_t kConsoleShutdown = 6;
using ConsoleControlFunction = bool (*)(std::uint32_t event);

// Makes `handler` the process's console event handler from now on; it stays installed
// (a later call replaces the function) and must not throw. Windows calls it on a thread
// it creates per event. POSIX turns SIGINT into 0, SIGQUIT into 1, SIGHUP and SIGTERM
// into 2 and calls it on one thread of its own that waits for them (one signal at a
// time: while the handler runs, later signals stay pending); nothing ends the process
// when the handler returns true. The first call
// blocks these signals in the calling thread, so make it before the process starts
// other threads (threads started later inherit the block; one started earlier could
// still receive the signal and die of it).
Error AddConsoleControlHandler(ConsoleControlFunction handler);

}  // namespace platform
