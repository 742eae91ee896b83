// The service side on Windows: the real dispatcher, handler registration, status and console calls.
#include "platform/services.h"

#include <windows.h>

#include <atomic>

namespace platform {

namespace {

// The system's callbacks carry no pointer of ours (except the extended handler's
// context), and a process runs one service, so one slot per callback is enough.
std::atomic<ServiceMainFunction> serviceEntry{nullptr};
std::atomic<ControlHandlerExFunction> extendedHandler{nullptr};
std::atomic<ControlHandlerFunction> plainHandler{nullptr};
std::atomic<ConsoleControlFunction> consoleHandler{nullptr};

VOID WINAPI ServiceMainEntry(DWORD argc, LPSTR* argv) {
  if (const ServiceMainFunction entry = serviceEntry.load()) entry(argc, argv);
}

DWORD WINAPI ExtendedHandlerEntry(DWORD control, DWORD eventType, LPVOID eventData,
                                  LPVOID context) {
  const ControlHandlerExFunction handler = extendedHandler.load();
  return handler ? handler(control, eventType, eventData, context) : ERROR_CALL_NOT_IMPLEMENTED;
}

VOID WINAPI PlainHandlerEntry(DWORD control) {
  if (const ControlHandlerFunction handler = plainHandler.load()) handler(control);
}

BOOL WINAPI ConsoleEntry(DWORD event) {
  const ConsoleControlFunction handler = consoleHandler.load();
  return handler != nullptr && handler(event) ? TRUE : FALSE;
}

using RegisterExtendedA = SERVICE_STATUS_HANDLE(WINAPI*)(LPCSTR, LPHANDLER_FUNCTION_EX, LPVOID);

Error LastError() noexcept { return static_cast<Error>(::GetLastError()); }

}  // namespace

Error StartServiceDispatcher(char* name, ServiceMainFunction entry) {
  serviceEntry = entry;
  SERVICE_TABLE_ENTRYA table[] = {{name, &ServiceMainEntry}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherA(table) ? kSuccess : LastError();
}

ControlHandlerRegistration::ControlHandlerRegistration() noexcept {
  // Only a library the process has loaded already: looking must not load one.
  const HMODULE library = ::GetModuleHandleA("ADVAPI32.DLL");
  if (library != nullptr)
    extendedEntry_ =
        reinterpret_cast<void*>(::GetProcAddress(library, "RegisterServiceCtrlHandlerExA"));
}

bool ControlHandlerRegistration::HasExtendedForm() const noexcept {
  return extendedEntry_ != nullptr;
}

ServiceStatusHandle ControlHandlerRegistration::RegisterExtended(const char* name,
                                                                 ControlHandlerExFunction handler,
                                                                 void* context,
                                                                 Error& error) const noexcept {
  if (extendedEntry_ == nullptr) {
    error = kCallNotImplemented;
    return 0;
  }
  extendedHandler = handler;
  const auto registerExtended = reinterpret_cast<RegisterExtendedA>(extendedEntry_);
  const SERVICE_STATUS_HANDLE handle = registerExtended(name, &ExtendedHandlerEntry, context);
  error = handle != nullptr ? kSuccess : LastError();
  return reinterpret_cast<ServiceStatusHandle>(handle);
}

ServiceStatusHandle ControlHandlerRegistration::Register(const char* name,
                                                         ControlHandlerFunction handler,
                                                         Error& error) const noexcept {
  plainHandler = handler;
  const SERVICE_STATUS_HANDLE handle = ::RegisterServiceCtrlHandlerA(name, &PlainHandlerEntry);
  error = handle != nullptr ? kSuccess : LastError();
  return reinterpret_cast<ServiceStatusHandle>(handle);
}

Error SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) noexcept {
  if (handle == 0) return kInvalidHandle;
  SERVICE_STATUS record{status.serviceType,   status.currentState,
                        status.controlsAccepted, status.win32ExitCode,
                        status.serviceSpecificExitCode, status.checkPoint,
                        status.waitHint};
  return ::SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle), &record)
             ? kSuccess
             : LastError();
}

Error AddConsoleControlHandler(ConsoleControlFunction handler) {
  consoleHandler = handler;
  // Adding the same routine twice would make the system call it twice per event.
  static const Error added = ::SetConsoleCtrlHandler(&ConsoleEntry, TRUE) ? kSuccess : LastError();
  return added;
}

}  // namespace platform
