// A CServiceShell whose status reports and control reactions the tests can see.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "ntservice/service_shell.h"

namespace hvstest {

// A status record as the tests expect it: type 0x10 and the given fields.
inline platform::ServiceStatus Status(std::uint32_t state, std::uint32_t controls,
                                      std::uint32_t checkPoint = 0, std::uint32_t waitHint = 0,
                                      std::uint32_t win32Exit = 0, std::uint32_t serviceExit = 0) {
  platform::ServiceStatus status;
  status.currentState = state;
  status.controlsAccepted = controls;
  status.checkPoint = checkPoint;
  status.waitHint = waitHint;
  status.win32ExitCode = win32Exit;
  status.serviceSpecificExitCode = serviceExit;
  return status;
}

// Keeps every record instead of sending it.
class RecordingReporter : public hvs::StatusReporter {
 public:
  bool Send(platform::ServiceStatusHandle handle, const platform::ServiceStatus& status) override {
    handles.push_back(handle);
    sent.push_back(status);
    return accept;
  }
  void Clear() {
    handles.clear();
    sent.clear();
  }

  std::vector<platform::ServiceStatusHandle> handles;
  std::vector<platform::ServiceStatus> sent;
  bool accept = true;
};

// Records the reactions to controls; its status reports go to `reporter`.
class TestShell : public hvs::CServiceShell {
 public:
  static constexpr platform::ServiceStatusHandle kHandle = 0x5EC;
  static constexpr std::uint32_t kUnchanged = hvs::CServiceShell::kUnchanged;

  TestShell() : CServiceShell("HvsTestService", "HVS Test Service", "Tests the framework") {
    UseStatusReporter(reporter);
  }

  // As if the control handler had been registered with the service control manager.
  void Attach() { statusHandle = kHandle; }

  void OnStop() override { calls.push_back("stop"); }
  void OnPause() override { calls.push_back("pause"); }
  void OnContinue() override { calls.push_back("continue"); }
  void OnCustomControl(std::uint32_t control) override {
    calls.push_back("custom " + std::to_string(control));
  }
  std::uint32_t OnDeviceEvent(std::uint32_t eventType, void* eventData) override {
    calls.push_back("device " + std::to_string(eventType));
    return eventData != nullptr ? 1000 + eventType : 0;
  }
  std::uint32_t OnPowerEvent(std::uint32_t eventType, void*) override {
    calls.push_back("power " + std::to_string(eventType));
    return 2000 + eventType;
  }

  using CServiceShell::allowServiceName;
  using CServiceShell::checkPoint;
  using CServiceShell::consoleMessages;
  using CServiceShell::controlsAccepted;
  using CServiceShell::currentState;
  using CServiceShell::dependencies;
  using CServiceShell::description;
  using CServiceShell::displayName;
  using CServiceShell::errorControl;
  using CServiceShell::eventFailureTextMode;
  using CServiceShell::eventLogging;
  using CServiceShell::eventSource;
  using CServiceShell::failureTextMode;
  using CServiceShell::foreground;
  using CServiceShell::rejectedControl;
  using CServiceShell::serviceName;
  using CServiceShell::serviceType;
  using CServiceShell::startType;
  using CServiceShell::statusHandle;

  RecordingReporter reporter;
  std::vector<std::string> calls;
};

}  // namespace hvstest

namespace platform {
// Found by argument-dependent lookup from inside the test macros.
inline bool operator==(const platform::ServiceStatus& a, const platform::ServiceStatus& b) {
  return a.serviceType == b.serviceType && a.currentState == b.currentState &&
         a.controlsAccepted == b.controlsAccepted && a.win32ExitCode == b.win32ExitCode &&
         a.serviceSpecificExitCode == b.serviceSpecificExitCode && a.checkPoint == b.checkPoint &&
         a.waitHint == b.waitHint;
}

// Readable records in failure messages.
inline void PrintTo(const ServiceStatus& s, std::ostream* out) {
  *out << "{type " << s.serviceType << ", state " << s.currentState << ", controls "
       << s.controlsAccepted << ", exit " << s.win32ExitCode << "/" << s.serviceSpecificExitCode
       << ", check point " << s.checkPoint << ", wait hint " << s.waitHint << "}";
}
}  // namespace platform
