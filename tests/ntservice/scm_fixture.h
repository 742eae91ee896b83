// A scratch service for tests under the real service control manager, removed at the end.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ntservice/service_handle.h"
#include "ntservice/service_shell.h"
#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/service_manager.h"
#include "tests/support/registry_tree.h"

namespace hvstest {

using platform::Error;

inline const std::string kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";
inline const std::string kApplicationLog = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

inline std::string DirectoryOf(const std::string& path) {
  return path.substr(0, path.find_last_of(platform::PathSeparator()));
}

// The test service program beside this executable, with the behaviour it is to show.
inline std::string TestServiceCommand(const std::string& behaviour) {
  // Appended, not prefixed: GCC 12's optimiser sees an overlapping copy in "\"" + text.
  std::string command(1, '"');
  command += platform::JoinPath(DirectoryOf(platform::ProgramPath()), HVS_TEST_SERVICE_FILE);
  command += "\" ";
  command += behaviour;
  return command;
}

inline std::string Text(const std::string& message, Error error) {
  return message + std::to_string(error) + ", " + platform::SystemErrorText(error);
}

class ScmShell : public hvs::CServiceShell {
 public:
  ScmShell(const std::string& name, const std::string& display)
      : CServiceShell(name.c_str(), display.c_str(), "Tests the installation") {}
  using CServiceShell::accountName;
  using CServiceShell::accountPassword;
  using CServiceShell::displayName;
  using CServiceShell::eventLogging;
  using CServiceShell::installCommandLine;
  using CServiceShell::startType;
};

class ServiceControl : public ::testing::Test {
 protected:
  void SetUp() override {
    static unsigned counter = 0;
    name_ = "HvsTest" + std::to_string(platform::TickCount()) + "x" + std::to_string(counter++);
    display_ = "HVS Test " + name_;
  }

  // Whatever a test left behind: stopped, removed, its event source gone.
  void TearDown() override {
    ScmShell shell(name_, display_);
    shell.eventLogging = false;
    Error error = 0;
    std::string text;
    shell.SetServiceToStatus(hvs::CServiceShell::kOperationStop, error, 15000, 100);
    shell.Uninstall(text, error, 15000);
    testsupport::DeleteRegistryTree(kApplicationLog + display_);
  }

  // A shell for this test's service that installs the test service with `behaviour`.
  std::unique_ptr<ScmShell> Shell(const std::string& behaviour = "plain") const {
    auto shell = std::make_unique<ScmShell>(name_, display_);
    shell->installCommandLine = TestServiceCommand(behaviour);
    return shell;
  }

  void InstallService(const std::string& behaviour = "plain") const {
    std::string text;
    Error error = 0;
    ASSERT_TRUE(Shell(behaviour)->Install(text, error)) << text;
  }

  void StartService() const {
    Error error = 0;
    ASSERT_TRUE(Shell()->SetServiceToStatus(hvs::CServiceShell::kOperationStart, error, 15000, 50))
        << error;
  }

  Error Open(hvs::ServiceHandle& service, std::uint32_t access) const {
    platform::ServiceManager manager;
    if (Error error = manager.Connect(platform::kScManagerConnect)) return error;
    return manager.OpenService(name_, access, service.service());
  }

  std::uint32_t State() const {
    hvs::ServiceHandle service;
    platform::ServiceStatus status;
    if (Open(service, platform::kServiceQueryStatus) || service.service().QueryStatus(status))
      return 0;
    return status.currentState;
  }

  std::string name_;
  std::string display_;
};

}  // namespace hvstest
