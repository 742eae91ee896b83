// CServiceShell's installation and removal of the service entry and its event source.
#include "ntservice/service_shell.h"

#include "ntservice/event_ids.h"
#include "ntservice/service_handle.h"
#include "ntservice/service_wait.h"
#include "platform/files.h"
#include "platform/secure_wipe.h"
#include "platform/service_manager.h"

namespace hvs {

namespace {

// String-table ids of the failure texts.
enum : std::uint32_t {
  kInstallOpenScm = 1,
  kInstallLockScm = 2,
  kInstallCreateService = 3,
  kInstallEventSource = 4,
  kUninstallOpenScm = 5,
  kUninstallOpenService = 6,
  kUninstallWaitForStop = 7,
  kUninstallDeleteService = 8,
  kUninstallEventSource = 9,
  kUninstallStopService = 16,
};


// The running executable's path with its extension replaced by "DLL" (appended when
// the file name has none): the message DLL that lies beside the program.
std::string DefaultMessageFile() {
  std::string path = platform::ProgramPath();
  const std::size_t name = path.find_last_of(platform::PathSeparator());
  const std::size_t dot = path.find_last_of('.');
  if (dot != std::string::npos && (name == std::string::npos || dot > name)) path.resize(dot);
  return path + ".DLL";
}

// Wipes the account name and password when it goes out of scope, however Install ends.
class AccountWipe {
 public:
  AccountWipe(std::string& name, std::string& password) : name_(name), password_(password) {}
  ~AccountWipe() {
    platform::SecureWipe(name_);
    platform::SecureWipe(password_);
  }
  AccountWipe(const AccountWipe&) = delete;
  AccountWipe& operator=(const AccountWipe&) = delete;

 private:
  std::string& name_;
  std::string& password_;
};

}  // namespace

bool CServiceShell::Install(std::string& text, platform::Error& error) {
  text.clear();
  error = platform::kSuccess;
  // The credentials are of no use after this call, and must not linger when it fails early.
  const AccountWipe wipe(accountName, accountPassword);

  // Declared in this order, they close the service, unlock and disconnect in reverse.
  platform::ServiceManager manager;
  if ((error = manager.Connect(platform::kScManagerCreateService | platform::kScManagerLock))) {
    text = FormatFailure(kInstallOpenScm, error, false);
    return false;
  }
  platform::ServiceDatabaseLock lock;
  if ((error = manager.Lock(lock))) {
    text = FormatFailure(kInstallLockScm, error, false);
    return false;
  }
  ServiceHandle service;
  if ((error = CreateServiceEntry(manager, service))) {
    text = FormatFailure(kInstallCreateService, error, false);
    return false;
  }

  if (eventLogging) {
    if (messageFile.empty()) messageFile = DefaultMessageFile();
    // The service entry stays when this fails: removing it undoes both.
    if (!InstallEventSource(messageFile, eventSource.sourceName, eventSource.logName, error)) {
      text = FormatFailure(kInstallEventSource, error, false);
      return false;
    }
  }
  // Systems without the call simply have no descriptions.
  if (!description.empty()) service.SetDescription(description);
  ReportFrameworkEvent(kEventInstalled);
  return true;
}

platform::Error CServiceShell::CreateServiceEntry(const platform::ServiceManager& manager,
                                                  ServiceHandle& service) {
  platform::ServiceConfig config;
  config.serviceType = serviceType;
  config.startType = startType;
  config.errorControl = errorControl;
  config.binaryPathName = installCommandLine;
  config.loadOrderGroup = loadOrderGroup;
  config.dependencies = DependencyList();
  config.serviceStartName = accountName;
  config.displayName = displayName;
  const platform::Error error =
      manager.CreateService(serviceName, config, accountPassword,
                            platform::kServiceChangeConfig, service.service());
  platform::SecureWipe(config.serviceStartName);
  return error;
}

bool CServiceShell::Uninstall(std::string& text, platform::Error& error, std::uint32_t timeoutMs) {
  text.clear();
  error = platform::kSuccess;
  platform::ServiceManager manager;
  if ((error = manager.Connect(platform::kScManagerConnect))) {
    text = FormatFailure(kUninstallOpenScm, error, false);
    ReportFailureEvent(kEventConnectFailed, kUninstallOpenScm, error);
    return false;
  }
  ServiceHandle service;
  manager.SetWaitLimit(timeoutMs);  // no wait of the removal outlasts the caller's limit
  if ((error = manager.OpenService(
           serviceName, platform::kDelete | platform::kServiceStop | platform::kServiceQueryStatus,
           service.service()))) {
    text = FormatFailure(kUninstallOpenService, error, false);
    ReportFailureEvent(kEventOpenFailed, kUninstallOpenService, error);
    return false;
  }

  // A service whose status cannot be read is deleted without a stop request.
  platform::ServiceStatus status;
  if (service.service().QueryStatus(status) == platform::kSuccess &&
      status.currentState != platform::kServiceStopped) {
    // A refused stop request does not end the removal: the service may stop all the same.
    if (const platform::Error refused = service.service().Control(platform::kControlStop, status)) {
      error = refused;
      text = FormatFailure(kUninstallStopService, error, false);
    }
    platform::Error waitError = platform::kSuccess;
    if (!WaitForState(service, platform::kServiceStopped, timeoutMs, kPollIntervalMs, waitError)) {
      error = waitError;
      text = FormatFailure(kUninstallWaitForStop, error, false);
      return false;
    }
  }

  if (const platform::Error failed = service.service().Delete()) {
    error = failed;
    text = FormatFailure(kUninstallDeleteService, error, false);
    ReportFailureEvent(kEventDeleteFailed, kUninstallDeleteService, error);
    return false;
  }
  if (eventLogging) {
    platform::Error removeError = platform::kSuccess;
    if (!RemoveEventSource(eventSource.logName, eventSource.sourceName, removeError)) {
      error = removeError;
      text = FormatFailure(kUninstallEventSource, error, false);
      return false;
    }
  }
  return true;
}

void CServiceShell::ReportFailureEvent(std::uint32_t eventId, std::uint32_t messageId,
                                       platform::Error error) {
  if (!eventLogging) return;
  eventSource.Report(platform::kEventError, EventIdFor(eventId),
                     {FormatFailure(messageId, error, true)});
}

}  // namespace hvs
