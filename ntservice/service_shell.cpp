// CServiceShell at run time: the single instance, dispatcher, controls, status reports, foreground.
#include "ntservice/service_shell.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "ntservice/event_ids.h"
#include "ntservice/process_arguments.h"
#include "platform/arguments.h"
#include "platform/eventlog.h"

namespace hvs {

namespace {

// The platform's callbacks carry no context, so they find the object here.
std::atomic<CServiceShell*> singleInstance{nullptr};

// Whether the service thread is in ServiceEntry. The system's dispatcher may return as soon
// as the stopped report is out, while that thread is still leaving the object (its status
// lock, the rest of ServiceMain); the object must not be destroyed before. A mutex and a
// condition, not std::atomic::wait, whose MinGW build can miss the wake-up and keep the
// process from ever ending. Never destroyed: the thread may still be leaving the notify
// while the main thread ends the program.
struct ServiceThreadPresence {
  std::mutex lock;
  std::condition_variable left;
  bool inside = false;

  void Set(bool now) {
    const std::lock_guard<std::mutex> hold(lock);
    inside = now;
    if (!now) left.notify_all();
  }
  void WaitUntilLeft() {
    std::unique_lock<std::mutex> hold(lock);
    left.wait(hold, [this] { return !inside; });
  }
};

ServiceThreadPresence& TheServiceThread() {
  static ServiceThreadPresence* const presence = new ServiceThreadPresence;
  return *presence;
}

// Controls (the Win32 numbers).
enum : std::uint32_t {
  kControlStop = 1,
  kControlPause = 2,
  kControlContinue = 3,
  kControlInterrogate = 4,
  kControlShutdown = 5,
  kControlParamChange = 6,
  kControlNetBindAdd = 7,
  kControlNetBindRemove = 8,
  kControlNetBindEnable = 9,
  kControlNetBindDisable = 10,
  kControlDeviceEvent = 11,
  kControlHardwareProfileChange = 12,
  kControlPowerEvent = 13,
};

// The dispatch table holds the name in a buffer of this size, its NUL included.
constexpr std::size_t kServiceNameBuffer = 256;
constexpr platform::Error kInvalidName = 123;

bool IsPending(std::uint32_t state) {
  return state == platform::kServiceStartPending || state == platform::kServiceStopPending ||
         state == platform::kServiceContinuePending || state == platform::kServicePausePending;
}

}  // namespace

CServiceShell::CServiceShell(const char* name, const char* display, const char* text)
    : serviceName(name ? name : ""), displayName(display ? display : ""),
      description(text ? text : "") {
  eventSource.sourceName = displayName;
  singleInstance = this;
}

CServiceShell::~CServiceShell() {
  // A callback that comes later must find no object rather than a destroyed one.
  CServiceShell* self = this;
  singleInstance.compare_exchange_strong(self, nullptr);
}

// Exceptions must not unwind into the system's callers; the framework's own exception is
// caught further in, so anything arriving here is a fault of the service.
void CServiceShell::ServiceEntry(std::uint32_t argc, char** argv) {
  CServiceShell* const shell = singleInstance.load();
  if (shell == nullptr) return;
  TheServiceThread().Set(true);
  try {
    shell->ServiceMain(argc, argv);
  } catch (...) {
    shell->SetStatus(platform::kServiceStopped, 0, 0, 0, platform::kExceptionInService, 0);
  }
  // The last access of this thread to anything the object's owner may destroy.
  TheServiceThread().Set(false);
}

std::uint32_t CServiceShell::ExtendedControlEntry(std::uint32_t control, std::uint32_t eventType,
                                                  void* eventData, void* /*context*/) {
  CServiceShell* const shell = singleInstance.load();
  if (shell == nullptr) return platform::kCallNotImplemented;
  try {
    return shell->HandleControl(control, eventType, eventData);
  } catch (...) {
    return platform::kExceptionInService;
  }
}

void CServiceShell::PlainControlEntry(std::uint32_t control) {
  ExtendedControlEntry(control, 0, nullptr, nullptr);
}

bool CServiceShell::ConsoleControlEntry(std::uint32_t event) {
  CServiceShell* const shell = singleInstance.load();
  if (shell == nullptr) return false;
  try {
    return shell->OnConsoleControl(event);
  } catch (...) {
    return false;  // the system's default handler ends the process
  }
}

bool CServiceShell::RunUnderDispatcher(platform::Error& error) {
  // Cut to fit, the name would ask the dispatcher for another service.
  if (serviceName.size() >= kServiceNameBuffer) {
    error = kInvalidName;
    return false;
  }
  char name[kServiceNameBuffer] = {};
  std::memcpy(name, serviceName.data(), serviceName.size());
  error = platform::StartServiceDispatcher(name, &ServiceEntry);
  TheServiceThread().WaitUntilLeft();
  return error == platform::kSuccess;
}

void CServiceShell::ServiceMain(std::uint32_t argc, char** argv) {
  RegisterControlHandler();
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceExitCode = 0;
  try {
    ServiceMainBody(argc, argv);
  } catch (const CServiceShellTerminateException& terminate) {
    win32ExitCode = terminate.win32ExitCode;
    serviceExitCode = terminate.serviceSpecificExitCode;
  }
  SetStatus(platform::kServiceStopped, 0, 0, 0, win32ExitCode, serviceExitCode);
}

bool CServiceShell::RegisterControlHandler() {
  const std::lock_guard<std::recursive_mutex> lock(statusLock);
  platform::Error error = platform::kSuccess;
  if (controlHandlerRegistration.HasExtendedForm())
    statusHandle = controlHandlerRegistration.RegisterExtended(
        serviceName.c_str(), &ExtendedControlEntry, nullptr, error);
  else
    statusHandle = controlHandlerRegistration.Register(serviceName.c_str(), &PlainControlEntry, error);
  return statusHandle != 0;
}

std::uint32_t CServiceShell::HandleControl(std::uint32_t control, std::uint32_t eventType,
                                           void* eventData) {
  if (control == rejectedControl) return platform::kCallNotImplemented;
  std::uint32_t result = 0;
  switch (control) {
    case kControlStop: OnStop(); break;
    case kControlPause: OnPause(); break;
    case kControlContinue: OnContinue(); break;
    case kControlInterrogate: OnInterrogate(); break;
    case kControlShutdown: OnShutdown(); break;
    case kControlParamChange: OnParamChange(); break;
    case kControlNetBindAdd: OnNetBindAdd(); break;
    case kControlNetBindRemove: OnNetBindRemove(); break;
    case kControlNetBindEnable: OnNetBindEnable(); break;
    case kControlNetBindDisable: OnNetBindDisable(); break;
    case kControlDeviceEvent: result = OnDeviceEvent(eventType, eventData); break;
    case kControlHardwareProfileChange: result = OnHardwareProfileChange(eventType, eventData); break;
    case kControlPowerEvent: result = OnPowerEvent(eventType, eventData); break;
    default: OnCustomControl(control); break;
  }
  // The reactions only signal the main routine, so the state is still the latest report.
  ReportCurrentState();
  return result;
}

bool CServiceShell::ReportState(std::uint32_t state, std::uint32_t point, std::uint32_t hint,
                                std::uint32_t controls) {
  return SetStatus(state, point, hint, controls, 0, 0);
}

bool CServiceShell::ReportCurrentState() {
  // Read and sent under one hold: a state that the service thread reported in between
  // would otherwise be overwritten with this older one.
  const std::lock_guard<std::recursive_mutex> lock(statusLock);
  return ReportState(currentState, kUnchanged, kUnchanged, kUnchanged);
}

bool CServiceShell::SetStatus(std::uint32_t state, std::uint32_t point, std::uint32_t hint,
                              std::uint32_t controls, std::uint32_t win32ExitCode,
                              std::uint32_t serviceExitCode) {
  const std::lock_guard<std::recursive_mutex> lock(statusLock);
  currentState = state;
  if (state == platform::kServiceStopped) {
    checkPoint = 0;
    waitHint = 0;
  } else if (state == platform::kServiceRunning || state == platform::kServicePaused) {
    checkPoint = 0;
    waitHint = 0;
    win32ExitCode = 0;
    serviceExitCode = 0;
  } else {
    if (point != kUnchanged) checkPoint = point;
    if (hint != kUnchanged) waitHint = hint;
    win32ExitCode = 0;
    serviceExitCode = 0;
  }
  if (controls != kUnchanged) controlsAccepted = controls;
  if (statusHandle == 0) return false;
  platform::ServiceStatus status;
  status.serviceType = platform::kServiceWin32OwnProcess;
  status.currentState = currentState;
  // While a change is under way the service takes no further controls.
  status.controlsAccepted = IsPending(currentState) ? 0 : controlsAccepted;
  status.win32ExitCode = win32ExitCode;
  status.serviceSpecificExitCode = serviceExitCode;
  status.checkPoint = checkPoint;
  status.waitHint = waitHint;
  return statusReporter_->Send(statusHandle, status);
}

namespace {

// Whether a foreground run is under way. Never destroyed: a console handler may still wait
// on it while the main thread leaves the program and runs the destructors.
struct ForegroundRun {
  std::mutex lock;
  std::condition_variable ended;
  bool running = false;
};

ForegroundRun& TheForegroundRun() {
  static ForegroundRun* const run = new ForegroundRun;
  return *run;
}

// Marks the run as under way while it lives, however the main routine leaves.
class ForegroundRunMark {
 public:
  ForegroundRunMark() { Set(true); }
  ~ForegroundRunMark() { Set(false); }
  ForegroundRunMark(const ForegroundRunMark&) = delete;
  ForegroundRunMark& operator=(const ForegroundRunMark&) = delete;

 private:
  static void Set(bool running) {
    ForegroundRun& run = TheForegroundRun();
    const std::lock_guard<std::mutex> hold(run.lock);
    run.running = running;
    if (!running) run.ended.notify_all();
  }
};

void WaitForForegroundEnd(std::chrono::milliseconds limit) {
  ForegroundRun& run = TheForegroundRun();
  std::unique_lock<std::mutex> hold(run.lock);
  run.ended.wait_for(hold, limit, [&run] { return !run.running; });
}

}  // namespace

void CServiceShell::RunInForeground() {
  ArgumentList arguments(ForegroundArguments(platform::ProcessArguments()));
  // Before the handler: an event must find the run under way.
  const ForegroundRunMark running;
  platform::AddConsoleControlHandler(&ConsoleControlEntry);
  foreground = true;
  ServiceMainBody(arguments.count(), arguments.data());
}

bool CServiceShell::OnConsoleControl(std::uint32_t event) {
  switch (event) {
    case platform::kConsoleCtrlC:
    case platform::kConsoleCtrlBreak:
      OnStop();
      return true;
    case platform::kConsoleClose:
    case platform::kConsoleLogoff:
    case platform::kConsoleShutdown:
      OnStop();
      // The answer ends the process: not before the stop sequence has run its course.
      WaitForForegroundEnd(std::chrono::milliseconds(kConsoleStopWaitMs));
      return true;
    default:
      return false;
  }
}

void CServiceShell::ReportFrameworkEvent(std::uint32_t eventId) {
  if (!eventLogging) return;
  eventSource.Report(platform::kEventInformation, EventIdFor(eventId), {displayName});
}

void CServiceShell::ServiceMainBody(std::uint32_t /*argc*/, char** /*argv*/) {}
void CServiceShell::OnStop() { ReportFrameworkEvent(kEventStopped); }
void CServiceShell::OnPause() { ReportFrameworkEvent(kEventPaused); }
void CServiceShell::OnContinue() { ReportFrameworkEvent(kEventContinued); }
void CServiceShell::OnInterrogate() { ReportCurrentState(); }
void CServiceShell::OnShutdown() { ReportFrameworkEvent(kEventShutdown); }
void CServiceShell::OnParamChange() {}
std::uint32_t CServiceShell::OnHardwareProfileChange(std::uint32_t, void*) { return 0; }
std::uint32_t CServiceShell::OnPowerEvent(std::uint32_t, void*) { return 0; }
void CServiceShell::OnNetBindAdd() {}
void CServiceShell::OnNetBindRemove() {}
void CServiceShell::OnNetBindEnable() {}
void CServiceShell::OnNetBindDisable() {}
std::uint32_t CServiceShell::OnDeviceEvent(std::uint32_t, void*) { return 0; }
void CServiceShell::OnCustomControl(std::uint32_t) {}

}  // namespace hvs
