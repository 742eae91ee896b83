// CServiceShell: the base of a Windows service: verbs, dispatcher, controls, status, failure texts.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ntservice/command_line_info.h"
#include "ntservice/event_source.h"
#include "ntservice/status_reporter.h"
#include "ntservice/terminate_exception.h"
#include "platform/error.h"
#include "platform/services.h"

namespace platform {
class ServiceManager;
}

namespace hvs {

class ServiceHandle;

// One per process: the constructor records the object as the single instance to which
// the platform's context-free callbacks (service entry, control handler, console
// handler) forward. The derived class supplies ServiceMainBody and its reactions to
// stop, pause and continue; the framework itself only ever reports the final stopped
// state. The virtual operations keep this order (destructor first).
class CServiceShell {
 public:
  // Passed for a check point, wait hint or controls: keep the stored value.
  static constexpr std::uint32_t kUnchanged = 0xFFFFFFFF;

  // The longest a console close, log-off or shutdown is held for the stop to finish.
  static constexpr std::uint32_t kConsoleStopWaitMs = 4000;

  // Operations of SetServiceToStatus.
  static constexpr std::uint32_t kOperationStart = 0;
  static constexpr std::uint32_t kOperationPause = 1;
  static constexpr std::uint32_t kOperationContinue = 2;
  static constexpr std::uint32_t kOperationStop = 3;

  // A null argument leaves that text empty.
  CServiceShell(const char* serviceName, const char* displayName, const char* description);
  CServiceShell(const CServiceShell&) = delete;
  CServiceShell& operator=(const CServiceShell&) = delete;

  virtual ~CServiceShell();

  // Values under SYSTEM\CurrentControlSet\Services\<serviceName>\Parameters\<section>;
  // every operation creates the service's key, "Parameters" and the section when they are
  // missing, reads included. Writes store REG_SZ (with its NUL), REG_DWORD, REG_MULTI_SZ
  // and REG_BINARY, flushed when flushParameterWrites is set; they answer false on
  // failure. SetParameterString with a null entry deletes the section (failing when it
  // has subkeys), with a null value the entry. Reads give their default (or false) on
  // failure, with the registry's error where there is an error out (which may be null):
  // GetParameterInt refuses values longer than 4 bytes with 234, GetParameterStrings
  // values of another type than REG_MULTI_SZ with 13; the lists and blocks out are
  // emptied first. Any type is read as text or bytes.
  virtual bool SetParameterString(const char* section, const char* entry, const char* value);
  virtual bool SetParameterInt(const char* section, const char* entry, std::int32_t value);
  virtual bool SetParameterStrings(const char* section, const char* entry,
                                   const std::vector<std::string>& values);
  virtual bool SetParameterBytes(const char* section, const char* entry, const std::uint8_t* bytes,
                                 std::uint32_t size);
  virtual std::string GetParameterString(const char* section, const char* entry,
                                         const char* defaultValue, platform::Error* error);
  virtual std::int32_t GetParameterInt(const char* section, const char* entry,
                                       std::int32_t defaultValue, platform::Error* error);
  virtual bool GetParameterStrings(const char* section, const char* entry,
                                   std::vector<std::string>& values, platform::Error* error);
  virtual bool GetParameterBytes(const char* section, const char* entry,
                                 std::vector<std::uint8_t>& bytes, platform::Error* error);

  // Fills `info` from the process arguments (see ParseArgumentList).
  virtual void ParseArguments(CServiceShellCommandLineInfo& info);
  // Carries out the parsed command line; the result is the process exit code: 0, or
  // the error code of the step that failed. Consumes the account name and password.
  virtual std::uint32_t ExecuteVerb(CServiceShellCommandLineInfo& info);

  // SetStatus(state, checkPoint, waitHint, controls, 0, 0).
  virtual bool ReportState(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint,
                           std::uint32_t controls);
  // Re-sends the latest state with the stored check point, wait hint and controls; the
  // state is read and sent under one hold of statusLock, so no newer report comes between.
  virtual bool ReportCurrentState();
  // Registers the control handler for serviceName (the extended form where the system
  // has it); true when statusHandle is set.
  virtual bool RegisterControlHandler();
  // Dispatches one control to the On... operation for it and re-reports the current
  // state; the result is the answer to the control (0, 120 for rejectedControl).
  virtual std::uint32_t HandleControl(std::uint32_t control, std::uint32_t eventType,
                                      void* eventData);

  // The service's main routine; returns when the service has stopped.
  virtual void ServiceMainBody(std::uint32_t argc, char** argv);
  // Reactions to controls; they run on the control thread and must only signal the
  // main routine. The base versions write information events.
  virtual void OnStop();
  virtual void OnPause();
  virtual void OnContinue();
  virtual void OnInterrogate();
  virtual void OnShutdown();
  virtual void OnParamChange();
  virtual std::uint32_t OnHardwareProfileChange(std::uint32_t eventType, void* eventData);
  virtual std::uint32_t OnPowerEvent(std::uint32_t eventType, void* eventData);
  virtual void OnNetBindAdd();
  virtual void OnNetBindRemove();
  virtual void OnNetBindEnable();
  virtual void OnNetBindDisable();
  virtual std::uint32_t OnDeviceEvent(std::uint32_t eventType, void* eventData);
  virtual void OnCustomControl(std::uint32_t control);

  // Hands the process to the service control dispatcher until the service has stopped
  // and its thread has let go of this object; false with `error` when the dispatcher
  // refuses (1063 when not started as a service, 123 for a service name beyond 255
  // characters).
  virtual bool RunUnderDispatcher(platform::Error& error);
  // Starts (0), pauses (1), continues (2) or stops (3) the installed service unless it is
  // in that state already, then waits at most `timeoutMs` (all bits: no limit) for the
  // state, looking every `pollMs`. On failure: false, `error` set (1460 when the wait ran
  // out, 87 for another operation) and an error event written; `error` is left alone on
  // success.
  virtual bool SetServiceToStatus(std::uint32_t operation, platform::Error& error,
                                  std::uint32_t timeoutMs, std::uint32_t pollMs);
  // Creates the service entry from the installation fields and registers the event
  // source; the account name and password are wiped however it ends. A failure after
  // the entry was created leaves the entry. Uninstall stops a running service, waiting
  // at most `timeoutMs` for it, then deletes the entry and the event source. Both empty
  // `text` and set `error` to 0 first; on failure `text` tells people what failed and
  // `error` holds the failed call's error. A refused stop request that is followed by
  // the stop all the same leaves its error and text behind a successful removal.
  virtual bool Install(std::string& text, platform::Error& error);
  virtual bool Uninstall(std::string& text, platform::Error& error, std::uint32_t timeoutMs);
  // Runs ServiceMainBody on this thread with the console handler installed and
  // `foreground` set; console handlers waiting for its end are released when it returns.
  // A CServiceShellTerminateException passes on to the caller.
  virtual void RunInForeground();
  // Shows the program's usage: this framework shows nothing.
  virtual void ShowUsage();
  // Names of the installed services whose command line holds this executable's path
  // (compared in upper case); services that cannot be read are skipped. False with
  // `error` when the connection or the enumeration fails.
  virtual bool FindInstances(std::vector<std::string>& names, platform::Error& error);
  // The service thread: registration, main routine, final stopped report.
  virtual void ServiceMain(std::uint32_t argc, char** argv);

  // A failure text built from the string table in failureTextMode, or for the event log
  // in eventFailureTextMode.
  virtual std::string FormatFailure(std::uint32_t messageId, platform::Error error,
                                    bool forEventLog);
  // Hooks through which every string-table id and every event id of the framework pass.
  virtual std::uint32_t MessageIdFor(std::uint32_t messageId);
  virtual std::uint32_t EventIdFor(std::uint32_t eventId);
  // The system's text for `error`, line end included; empty when it has none.
  virtual std::string SystemErrorText(platform::Error error);
  // Records and sends a status report; false when none is sent (no statusHandle, as in
  // the foreground) or the system refuses it.
  virtual bool SetStatus(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint,
                         std::uint32_t controls, std::uint32_t win32ExitCode,
                         std::uint32_t serviceExitCode);
  // Every dependency followed by a NUL, then one more NUL (a single NUL when none).
  virtual std::vector<char> DependencyList();
  // Console events 0 and 1 call OnStop and answer true at once. 2, 5 and 6 (the console
  // closes, the user logs off, the system shuts down) end the process as soon as they are
  // answered, so they call OnStop and answer true only when the foreground run has
  // ended, or after kConsoleStopWaitMs, within the system's limit. Others answer false.
  virtual bool OnConsoleControl(std::uint32_t event);

 protected:
  // Status records go to `reporter` instead of the service control manager; it must
  // outlive this object.
  void UseStatusReporter(StatusReporter& reporter) noexcept { statusReporter_ = &reporter; }

  std::uint32_t serviceType = platform::kServiceWin32OwnProcess;
  std::uint32_t startType = 3;     // demand start
  std::uint32_t errorControl = 0;  // ignore
  std::string loadOrderGroup;
  std::string accountName;
  std::string accountPassword;
  std::string messageFile;
  std::int32_t failureTextMode = 4;
  std::int32_t eventFailureTextMode = 1;
  std::vector<std::string> dependencies;
  bool eventLogging = true;
  platform::ServiceStatusHandle statusHandle = 0;
  std::uint32_t controlsAccepted =
      platform::kServiceAcceptStop | platform::kServiceAcceptPauseContinue;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;
  std::uint32_t currentState = platform::kServiceStopped;
  std::uint32_t rejectedControl = 0;
  std::string serviceName;
  std::string displayName;
  std::string description;
  EventSource eventSource;
  // Serialises status reports and the handler registration. Recursive, as a critical
  // section is: the re-report holds it across ReportState, which takes it again.
  std::recursive_mutex statusLock;
  bool flushParameterWrites = true;
  bool allowCommandTail = false;
  bool allowServiceName = false;
  bool allowDescription = false;
  bool allowDisplayName = false;
  bool consoleMessages = true;  // failure texts to standard output, else a message box
  std::string installCommandLine;
  platform::ControlHandlerRegistration controlHandlerRegistration;
  bool foreground = false;

 private:
  static void ServiceEntry(std::uint32_t argc, char** argv);
  static std::uint32_t ExtendedControlEntry(std::uint32_t control, std::uint32_t eventType,
                                            void* eventData, void* context);
  static void PlainControlEntry(std::uint32_t control);
  static bool ConsoleControlEntry(std::uint32_t event);

  void ReportFrameworkEvent(std::uint32_t eventId);
  // An error event with the event-log failure text of `messageId` and `error`.
  void ReportFailureEvent(std::uint32_t eventId, std::uint32_t messageId, platform::Error error);
  platform::Error CreateServiceEntry(const platform::ServiceManager& manager,
                                     ServiceHandle& service);
  void ApplyOverrides(const CServiceShellCommandLineInfo& info);
  void PrepareInstall(CServiceShellCommandLineInfo& info);
  std::uint32_t ControlVerb(std::uint32_t operation, std::uint32_t messageId,
                            const CServiceShellCommandLineInfo& info);
  void ShowFailure(const std::string& text, const CServiceShellCommandLineInfo& info);
  // String 15 ("%1, %2") with the decimal code and the system text.
  std::string ErrorPair(const std::string& number, platform::Error error);

  StatusReporter* statusReporter_ = &ServiceControlManagerReporter();
};

}  // namespace hvs
