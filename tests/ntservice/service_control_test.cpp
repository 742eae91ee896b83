// Installation, removal and control of services under the real service control manager.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "ntservice/service_wait.h"
#include "tests/ntservice/scm_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

namespace {

using hvstest::ScmShell;
using hvstest::ServiceControl;
using hvstest::TestServiceCommand;
using hvstest::Text;
using platform::Error;
using hvstest::kApplicationLog;
using hvstest::kServicesKey;

constexpr Error kInvalidServiceControl = 1052;

TEST_F(ServiceControl, InstallRegistersTheEntryAndAnEventSourceForTheMessageDll) {
  auto shell = Shell();
  shell->startType = platform::kServiceAutoStart;
  std::string text = "stale";
  Error error = 99;
  ASSERT_TRUE(shell->Install(text, error)) << text;
  EXPECT_EQ(text, "");
  EXPECT_EQ(error, 0u);

  hvs::ServiceHandle service;
  ASSERT_EQ(Open(service, platform::kServiceQueryConfig), 0u);
  platform::ServiceConfig config;
  ASSERT_EQ(service.service().QueryConfig(config), 0u);
  EXPECT_EQ(config.serviceType, platform::kServiceWin32OwnProcess);
  EXPECT_EQ(config.startType, platform::kServiceAutoStart);
  EXPECT_EQ(config.binaryPathName, TestServiceCommand("plain"));
  EXPECT_EQ(config.displayName, display_);
  service.Close();
  std::string bytes;
  ASSERT_TRUE(testsupport::ReadRawValue(kServicesKey + name_, "Description", bytes));
  EXPECT_STREQ(bytes.c_str(), "Tests the installation");

  // The program's path with its extension (if any) replaced.
  std::string program = platform::ProgramPath();
  const std::size_t dot = program.find_last_of('.');
  if (dot != std::string::npos && dot > program.find_last_of(platform::PathSeparator()))
    program.resize(dot);
  std::uint32_t type = 0;
  ASSERT_TRUE(testsupport::ReadRawValue(kApplicationLog + display_, "EventMessageFile", bytes, &type));
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(bytes, program + ".DLL" + std::string(1, '\0'));
  ASSERT_TRUE(testsupport::ReadRawValue(kApplicationLog + display_, "TypesSupported", bytes, &type));
  EXPECT_EQ(type, platform::kRegDword);
  EXPECT_EQ(bytes, std::string("\x07\0\0\0", 4));

  ASSERT_TRUE(shell->Uninstall(text, error, 0)) << text;
  EXPECT_EQ(Open(service, platform::kServiceQueryStatus), platform::kServiceDoesNotExist);
  EXPECT_FALSE(testsupport::KeyExists(kApplicationLog + display_));
}

TEST_F(ServiceControl, InstallingTwiceFailsWith1073AndLeavesTheEntryAndWipesTheAccount) {
  InstallService();
  ScmShell second(name_, "Another display name");
  second.installCommandLine = TestServiceCommand("slow");
  second.accountName = ".\\HvsNobody";
  second.accountPassword = "not to be kept";
  std::string text;
  Error error = 0;
  EXPECT_FALSE(second.Install(text, error));
  EXPECT_EQ(error, platform::kServiceExists);
  EXPECT_EQ(text, Text("CServiceShell::Install, Failed call to CreateService, Error:", 1073));
  EXPECT_EQ(second.accountName, "");
  EXPECT_EQ(second.accountPassword, "");

  hvs::ServiceHandle service;
  ASSERT_EQ(Open(service, platform::kServiceQueryConfig), 0u);
  platform::ServiceConfig config;
  ASSERT_EQ(service.service().QueryConfig(config), 0u);
  EXPECT_EQ(config.displayName, display_);
  EXPECT_EQ(config.binaryPathName, TestServiceCommand("plain"));
}

TEST_F(ServiceControl, ControlsReachTheirStatesAndSkipTheRequestWhenThereAlready) {
  InstallService();
  auto shell = Shell();
  Error error = 0;
  // A stop request to a stopped service, or a start to a running one, would be refused
  // (1062, 1056): success shows that none was sent.
  EXPECT_TRUE(shell->SetServiceToStatus(hvs::CServiceShell::kOperationStop, error, 0, 50)) << error;
  EXPECT_TRUE(shell->SetServiceToStatus(hvs::CServiceShell::kOperationStart, error, 15000, 50)) << error;
  EXPECT_EQ(State(), platform::kServiceRunning);
  EXPECT_TRUE(shell->SetServiceToStatus(hvs::CServiceShell::kOperationStart, error, 0, 50)) << error;
  EXPECT_TRUE(shell->SetServiceToStatus(hvs::CServiceShell::kOperationPause, error, 15000, 50)) << error;
  EXPECT_EQ(State(), platform::kServicePaused);
  EXPECT_TRUE(shell->SetServiceToStatus(hvs::CServiceShell::kOperationContinue, error, 15000, 50)) << error;
  EXPECT_EQ(State(), platform::kServiceRunning);
  EXPECT_TRUE(shell->SetServiceToStatus(hvs::CServiceShell::kOperationStop, error, 15000, 50)) << error;
  EXPECT_EQ(State(), platform::kServiceStopped);
  EXPECT_EQ(error, 0u);  // written only on failure

  error = 0;
  EXPECT_FALSE(shell->SetServiceToStatus(hvs::CServiceShell::kOperationPause, error, 15000, 50));
  EXPECT_EQ(error, platform::kServiceNotActiveError);
}

TEST_F(ServiceControl, RemovingAMissingServiceFailsWith1060AndText6) {
  std::string text;
  Error error = 0;
  EXPECT_FALSE(Shell()->Uninstall(text, error, 1000));
  EXPECT_EQ(error, platform::kServiceDoesNotExist);
  EXPECT_EQ(text, Text("CServiceShell::Uninstall, Failed call to OpenService, Error:", 1060));
}

TEST_F(ServiceControl, RemovalStopsARunningServiceFirst) {
  InstallService();
  StartService();
  std::string text;
  Error error = 0;
  EXPECT_TRUE(Shell()->Uninstall(text, error, 15000)) << text;
  EXPECT_EQ(error, 0u);
  // Wine drops a deleted entry once the service's process has gone, a moment later.
  EXPECT_TRUE(testsupport::Eventually([&] { return State() == 0u; }));
}

TEST_F(ServiceControl, RemovalWhoseWaitRunsOutFailsWith1460AndText7AndKeepsTheService) {
  InstallService("slow");
  StartService();
  std::string text;
  Error error = 0;
  EXPECT_FALSE(Shell("slow")->Uninstall(text, error, 500));
  EXPECT_EQ(error, platform::kTimeout);
  EXPECT_EQ(text, Text("CServiceShell::Uninstall, Failed call to WaitForStop, Error:", 1460));
  EXPECT_NE(State(), 0u);
}

// The refusal stays on record: it is the exit code of the verb, which shows no text.
TEST_F(ServiceControl, RemovalGoesOnWhenTheStopIsRefusedButTheServiceStopsInTime) {
  InstallService("unstoppable");
  StartService();
  std::string text;
  Error error = 0;
  EXPECT_TRUE(Shell("unstoppable")->Uninstall(text, error, 15000)) << text;
  EXPECT_EQ(error, kInvalidServiceControl);
  EXPECT_THAT(text, ::testing::StartsWith("CServiceShell::Uninstall, Failed to stop service, Error:"));
  // Gone before it is installed again, or the new install meets 1072, marked for deletion.
  ASSERT_TRUE(testsupport::Eventually([&] { return State() == 0u; }));

  InstallService("unstoppable");
  StartService();
  hvs::CServiceShellCommandLineInfo info;
  info.verb = hvs::VerbUninstall;
  info.timeoutMs = 15000;
  ::testing::internal::CaptureStdout();
  const std::uint32_t exitCode = Shell("unstoppable")->ExecuteVerb(info);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(exitCode, kInvalidServiceControl);
  EXPECT_TRUE(testsupport::Eventually([&] { return State() == 0u; }));
}

// The system's dispatcher may return at the stopped report; the program must still wait
// for the service thread, which is using the service object.
TEST_F(ServiceControl, TheDispatcherReturnsOnlyOnceTheServiceThreadHasLetGoOfTheObject) {
  testsupport::TempDirectory scratch;
  const std::string record = scratch / "dispatcher.txt";
  InstallService("lingering \"" + record + "\"");
  StartService();
  Error error = 0;
  ASSERT_TRUE(Shell()->SetServiceToStatus(hvs::CServiceShell::kOperationStop, error, 15000, 50))
      << error;
  ASSERT_TRUE(testsupport::Eventually([&] { return testsupport::FileExists(record); }));
  EXPECT_TRUE(testsupport::Eventually(
      [&] { return testsupport::ReadFile(record) == "finished"; }));
}

TEST_F(ServiceControl, FindInstancesListsOnlyTheServicesThatRunThisProgram) {
  InstallService();
  ScmShell ours(name_ + "b", display_ + "b");
  ours.eventLogging = false;
  ours.installCommandLine = "\"" + platform::ProgramPath() + "\" /service";
  std::string text;
  Error error = 0;
  ASSERT_TRUE(ours.Install(text, error)) << text;

  std::vector<std::string> names{"stale"};
  EXPECT_TRUE(ours.FindInstances(names, error));
  EXPECT_EQ(error, 0u);
  EXPECT_THAT(names, ::testing::Contains(name_ + "b"));
  EXPECT_THAT(names, ::testing::Not(::testing::Contains(name_)));
  EXPECT_THAT(names, ::testing::Not(::testing::Contains("stale")));
  EXPECT_TRUE(ours.Uninstall(text, error, 0)) << text;
}

// A clock that only moves when the wait sleeps, starting just before the tick counter wraps.
class SteppingTimer : public hvs::WaitTimer {
 public:
  explicit SteppingTimer(std::uint32_t step) : step_(step) {}
  std::uint32_t Tick() override { return now_; }
  void Sleep(std::uint32_t) override {
    now_ += step_;
    ++sleeps;
    if (onSleep) onSleep(sleeps);
    platform::SleepMilliseconds(10);
  }
  int sleeps = 0;
  std::function<void(int)> onSleep;

 private:
  std::uint32_t step_;
  std::uint32_t now_ = 0xFFFFFF00u;
};

TEST_F(ServiceControl, WaitWithLimitZeroSucceedsOnlyWhenTheFirstLookShowsTheState) {
  InstallService();
  hvs::ServiceHandle service;
  ASSERT_EQ(Open(service, platform::kServiceQueryStatus), 0u);
  Error error = 0;
  SteppingTimer timer(250);
  EXPECT_TRUE(hvs::WaitForState(service, platform::kServiceStopped, 0, 250, error, timer));
  EXPECT_EQ(timer.sleeps, 0);
  EXPECT_FALSE(hvs::WaitForState(service, platform::kServiceRunning, 0, 250, error, timer));
  EXPECT_EQ(error, platform::kTimeout);
  EXPECT_EQ(timer.sleeps, 1);
}

TEST_F(ServiceControl, WaitMeasuresItsLimitAcrossATickCounterWrap) {
  InstallService();
  hvs::ServiceHandle service;
  ASSERT_EQ(Open(service, platform::kServiceQueryStatus), 0u);
  Error error = 0;
  SteppingTimer timer(250);
  EXPECT_FALSE(hvs::WaitForState(service, platform::kServiceRunning, 1000, 250, error, timer));
  EXPECT_EQ(error, platform::kTimeout);
  EXPECT_EQ(timer.sleeps, 5);  // 1000 ms have not run out yet, 1250 have
}

TEST_F(ServiceControl, WaitWithoutLimitOutlastsAnyElapsedTime) {
  InstallService();
  hvs::ServiceHandle service;
  ASSERT_EQ(Open(service, platform::kServiceQueryStatus), 0u);
  SteppingTimer timer(0x40000000u);
  timer.onSleep = [this](int sleeps) {
    if (sleeps == 3) StartService();
  };
  Error error = 0;
  EXPECT_TRUE(hvs::WaitForState(service, platform::kServiceRunning, hvs::kNoWaitLimit, 10, error,
                                timer));
  EXPECT_GE(timer.sleeps, 3);
}

}  // namespace
