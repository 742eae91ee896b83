// CServiceShell's control of the installed service, and the search for its instances.
#include "ntservice/service_shell.h"

#include <iterator>

#include "ntservice/event_ids.h"
#include "ntservice/service_handle.h"
#include "ntservice/service_wait.h"
#include "platform/files.h"
#include "platform/service_manager.h"
#include "platform/strings.h"

namespace hvs {

namespace {

// String-table ids of the event texts.
enum : std::uint32_t {
  kStatusOpenScm = 17,
  kStatusOpenService = 18,
  kStatusStart = 19,
  kStatusContinue = 20,
  kStatusPause = 21,
  kStatusStop = 22,
  kStatusWait = 23,
  kStatusQuery = 24,
};

// What each operation of SetServiceToStatus aims at and asks for.
struct StatusChange {
  std::uint32_t targetState;
  std::uint32_t access;   // besides the status query
  std::uint32_t control;  // 0: the start request
  std::uint32_t messageId;
  std::uint32_t eventId;
};

constexpr StatusChange kStatusChanges[] = {
    {platform::kServiceRunning, platform::kServiceStart, 0, kStatusStart, kEventStartFailed},
    {platform::kServicePaused, platform::kServicePauseContinue, platform::kControlPause,
     kStatusPause, kEventPauseFailed},
    {platform::kServiceRunning, platform::kServicePauseContinue, platform::kControlContinue,
     kStatusContinue, kEventContinueFailed},
    {platform::kServiceStopped, platform::kServiceStop, platform::kControlStop, kStatusStop,
     kEventStopFailed},
};

platform::Error SendRequest(const platform::Service& service, const StatusChange& change) {
  if (change.control == 0) return service.Start();
  platform::ServiceStatus status;
  return service.Control(change.control, status);
}

}  // namespace

bool CServiceShell::SetServiceToStatus(std::uint32_t operation, platform::Error& error,
                                       std::uint32_t timeoutMs, std::uint32_t pollMs) {
  if (operation >= std::size(kStatusChanges)) {
    error = platform::kInvalidParameter;
    return false;
  }
  const StatusChange& change = kStatusChanges[operation];

  platform::ServiceManager manager;
  if (const platform::Error failed = manager.Connect(platform::kScManagerConnect)) {
    error = failed;
    ReportFailureEvent(kEventConnectFailed, kStatusOpenScm, error);
    return false;
  }
  manager.SetWaitLimit(timeoutMs);  // no wait of the verb outlasts the caller's limit
  ServiceHandle service;
  if (const platform::Error failed = manager.OpenService(
          serviceName, platform::kServiceQueryStatus | change.access, service.service())) {
    error = failed;
    ReportFailureEvent(kEventOpenFailed, kStatusOpenService, error);
    return false;
  }
  platform::ServiceStatus status;
  if (const platform::Error failed = service.service().QueryStatus(status)) {
    error = failed;
    ReportFailureEvent(kEventQueryFailed, kStatusQuery, error);
    return false;
  }
  // A service in the target state already is left alone.
  if (status.currentState != change.targetState) {
    if (const platform::Error failed = SendRequest(service.service(), change)) {
      error = failed;
      if (change.eventId == kEventStopFailed) {
        if (eventLogging)
          eventSource.ReportErrorCode(EventIdFor(kEventStopFailed), static_cast<std::int32_t>(error));
      } else {
        ReportFailureEvent(change.eventId, change.messageId, error);
      }
      return false;
    }
  }
  platform::Error waitError = platform::kSuccess;
  if (!WaitForState(service, change.targetState, timeoutMs, pollMs, waitError)) {
    error = waitError;
    if (eventLogging)
      eventSource.ReportErrorWithNumber(EventIdFor(kEventWaitFailed),
                                        FormatFailure(kStatusWait, error, true),
                                        static_cast<std::int32_t>(change.targetState));
    return false;
  }
  return true;
}

bool CServiceShell::FindInstances(std::vector<std::string>& names, platform::Error& error) {
  names.clear();
  error = platform::kSuccess;
  platform::ServiceManager manager;
  if ((error = manager.Connect(platform::kScManagerConnect | platform::kScManagerEnumerateService)))
    return false;
  const std::string program = platform::ToUpperCase(platform::ProgramPath());
  std::vector<platform::ServiceStatusEntry> services;
  error = manager.EnumerateServices(platform::kServiceWin32, platform::kServiceStateAll, services);
  // An unknown own path would be found in every command line.
  if (program.empty()) return error == platform::kSuccess;
  for (const platform::ServiceStatusEntry& entry : services) {
    ServiceHandle service;
    platform::ServiceConfig config;
    if (manager.OpenService(entry.serviceName, platform::kServiceQueryConfig, service.service()) ||
        service.service().QueryConfig(config))
      continue;  // gone or unreadable meanwhile: not one of ours to report
    if (platform::ToUpperCase(config.binaryPathName).find(program) != std::string::npos)
      names.push_back(entry.serviceName);
  }
  return error == platform::kSuccess;
}

}  // namespace hvs
