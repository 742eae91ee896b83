// CServiceShell's control dispatch and status reports, as the service control manager would see them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/ntservice/test_shell.h"

namespace {

using hvstest::Status;
using hvstest::TestShell;
using ::testing::ElementsAre;

constexpr std::uint32_t kU = TestShell::kUnchanged;
constexpr std::uint32_t kStopPauseContinue = 3;

TEST(ServiceShellDefaults, FreshShellHasTheFrameworkDefaults) {
  TestShell shell;
  EXPECT_EQ(shell.serviceName, "HvsTestService");
  EXPECT_EQ(shell.displayName, "HVS Test Service");
  EXPECT_EQ(shell.description, "Tests the framework");
  EXPECT_EQ(shell.eventSource.sourceName, "HVS Test Service");
  EXPECT_EQ(shell.eventSource.logName, "Application");
  EXPECT_EQ(shell.serviceType, 0x10u);
  EXPECT_EQ(shell.startType, 3u);
  EXPECT_EQ(shell.errorControl, 0u);
  EXPECT_EQ(shell.failureTextMode, 4);
  EXPECT_EQ(shell.eventFailureTextMode, 1);
  EXPECT_TRUE(shell.eventLogging);
  EXPECT_EQ(shell.statusHandle, 0u);
  EXPECT_EQ(shell.controlsAccepted, kStopPauseContinue);
  EXPECT_EQ(shell.currentState, 1u);
  EXPECT_EQ(shell.rejectedControl, 0u);
  EXPECT_TRUE(shell.consoleMessages);
  EXPECT_FALSE(shell.foreground);
}

class NullIdentityShell : public hvs::CServiceShell {
 public:
  NullIdentityShell() : CServiceShell(nullptr, nullptr, nullptr) {}
  using CServiceShell::description;
  using CServiceShell::displayName;
  using CServiceShell::serviceName;
};

TEST(ServiceShellDefaults, NullIdentityLeavesTheTextsEmpty) {
  NullIdentityShell shell;
  EXPECT_EQ(shell.serviceName, "");
  EXPECT_EQ(shell.displayName, "");
  EXPECT_EQ(shell.description, "");
}

TEST(ServiceShellControl, InterrogateSendsTheLatestStateTwice) {
  TestShell shell;
  shell.Attach();
  shell.ReportState(7, kU, kU, kU);
  shell.reporter.Clear();

  EXPECT_EQ(shell.HandleControl(4, 0, nullptr), 0u);

  EXPECT_THAT(shell.reporter.sent,
              ElementsAre(Status(7, kStopPauseContinue), Status(7, kStopPauseContinue)));
  EXPECT_THAT(shell.reporter.handles, ElementsAre(TestShell::kHandle, TestShell::kHandle));
}

TEST(ServiceShellControl, EveryDispatchedControlIsFollowedByOneReportOfTheUnchangedState) {
  TestShell shell;
  shell.Attach();
  shell.ReportState(4, kU, kU, kU);
  shell.reporter.Clear();

  for (std::uint32_t control : {1u, 2u, 3u}) EXPECT_EQ(shell.HandleControl(control, 0, nullptr), 0u);

  // The reactions only signal the main routine: the service still reads as running.
  EXPECT_THAT(shell.calls, ElementsAre("stop", "pause", "continue"));
  EXPECT_EQ(shell.reporter.sent.size(), 3u);
  for (const auto& status : shell.reporter.sent) EXPECT_EQ(status, Status(4, kStopPauseContinue));
}

TEST(ServiceShellControl, UnknownControlsGoToOnCustomControlAndAreAnsweredZero) {
  TestShell shell;
  shell.Attach();
  EXPECT_EQ(shell.HandleControl(14, 0, nullptr), 0u);
  EXPECT_EQ(shell.HandleControl(200, 0, nullptr), 0u);
  shell.rejectedControl = 99;
  EXPECT_EQ(shell.HandleControl(0, 0, nullptr), 0u);  // no longer the rejected one

  EXPECT_THAT(shell.calls, ElementsAre("custom 14", "custom 200", "custom 0"));
  EXPECT_EQ(shell.reporter.sent.size(), 3u);
}

TEST(ServiceShellControl, RejectedControlIsAnswered120WithoutCallOrReport) {
  TestShell shell;
  shell.Attach();
  EXPECT_EQ(shell.HandleControl(0, 0, nullptr), 120u);  // 0 is rejected from the start
  shell.rejectedControl = 1;
  EXPECT_EQ(shell.HandleControl(1, 0, nullptr), 120u);

  EXPECT_TRUE(shell.calls.empty());
  EXPECT_TRUE(shell.reporter.sent.empty());
}

TEST(ServiceShellControl, EventControlsPassTheirDataAndReturnTheReactionsAnswer) {
  TestShell shell;
  shell.Attach();
  int data = 0;
  EXPECT_EQ(shell.HandleControl(11, 7, &data), 1007u);
  EXPECT_EQ(shell.HandleControl(13, 3, nullptr), 2003u);
  EXPECT_EQ(shell.HandleControl(12, 1, nullptr), 0u);  // base: hardware profile change

  EXPECT_THAT(shell.calls, ElementsAre("device 7", "power 3"));
  EXPECT_EQ(shell.reporter.sent.size(), 3u);
}

TEST(ServiceShellStatus, RunningAfterStopPendingClearsCheckPointAndWaitHint) {
  TestShell shell;
  shell.Attach();
  shell.ReportState(3, 5, 1100, kU);
  shell.ReportState(4, kU, kU, kU);
  shell.ReportState(3, kU, kU, kU);

  EXPECT_THAT(shell.reporter.sent,
              ElementsAre(Status(3, 0, 5, 1100), Status(4, kStopPauseContinue, 0, 0),
                          Status(3, 0, 0, 0)));
}

TEST(ServiceShellStatus, PendingStatesKeepTheirCheckPointUntilGivenANewOne) {
  TestShell shell;
  shell.Attach();
  shell.ReportState(3, 1, 1100, kU);
  shell.ReportState(3, kU, kU, kU);
  shell.ReportState(3, 2, kU, kU);
  shell.ReportCurrentState();

  EXPECT_THAT(shell.reporter.sent, ElementsAre(Status(3, 0, 1, 1100), Status(3, 0, 1, 1100),
                                               Status(3, 0, 2, 1100), Status(3, 0, 2, 1100)));
}

TEST(ServiceShellStatus, PendingStatesAnnounceNoControlsButKeepTheStoredOnes) {
  TestShell shell;
  shell.Attach();
  shell.ReportState(4, kU, kU, 1);  // stop only
  for (std::uint32_t pending : {2u, 3u, 5u, 6u}) shell.ReportState(pending, kU, kU, kU);
  shell.ReportState(7, kU, kU, kU);

  ASSERT_EQ(shell.reporter.sent.size(), 6u);
  EXPECT_EQ(shell.reporter.sent[0].controlsAccepted, 1u);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(shell.reporter.sent[i].controlsAccepted, 0u) << i;
  EXPECT_EQ(shell.reporter.sent[5].controlsAccepted, 1u);
}

TEST(ServiceShellStatus, OnlyTheStoppedStateCarriesExitCodes) {
  TestShell shell;
  shell.Attach();
  shell.serviceType = 0x20;  // reports always say "own process"
  shell.SetStatus(4, 8, 8, kU, 5, 6);
  shell.SetStatus(3, 2, 100, kU, 5, 6);
  shell.SetStatus(7, 8, 8, kU, 5, 6);
  shell.SetStatus(1, 9, 9, kU, 5, 6);

  EXPECT_THAT(shell.reporter.sent,
              ElementsAre(Status(4, kStopPauseContinue), Status(3, 0, 2, 100),
                          Status(7, kStopPauseContinue), Status(1, kStopPauseContinue, 0, 0, 5, 6)));
}

TEST(ServiceShellStatus, WithoutStatusHandleNothingIsSentAndTheReportFails) {
  TestShell shell;  // as in the foreground: no handler registered
  EXPECT_FALSE(shell.ReportState(4, kU, kU, kU));
  EXPECT_FALSE(shell.ReportState(3, 4, 1100, kU));
  EXPECT_TRUE(shell.reporter.sent.empty());
  // The state is still recorded, so a later re-report tells the latest one.
  EXPECT_EQ(shell.currentState, 3u);
  EXPECT_EQ(shell.checkPoint, 4u);
}

TEST(ServiceShellStatus, RefusedReportFails) {
  TestShell shell;
  shell.Attach();
  shell.reporter.accept = false;
  EXPECT_FALSE(shell.ReportState(4, kU, kU, kU));
  EXPECT_EQ(shell.reporter.sent.size(), 1u);
}

TEST(ServiceShellStatus, ControlReReportsAndMainRoutineReportsMayCross) {
  TestShell shell;
  shell.Attach();
  std::thread controls([&] {
    for (int i = 0; i < 500; ++i) shell.HandleControl(4, 0, nullptr);
  });
  for (int i = 0; i < 500; ++i) shell.ReportState(i % 2 ? 4 : 3, i, 1100, kU);
  controls.join();

  // Every record is whole: a pending one announces no controls, a running one all three.
  ASSERT_EQ(shell.reporter.sent.size(), 1500u);
  for (const auto& status : shell.reporter.sent)
    EXPECT_EQ(status.controlsAccepted, status.currentState == 3 ? 0u : kStopPauseContinue);
}

// A re-report (all values unchanged) that takes its time between reading the state and
// sending it. The main routine's states follow the parity of their check points, so a
// re-report that read an older state shows as a record against that parity.
class SlowReReportShell : public TestShell {
 public:
  bool ReportState(std::uint32_t state, std::uint32_t point, std::uint32_t hint,
                   std::uint32_t controls) override {
    if (point == kU && hint == kU && controls == kU)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return TestShell::ReportState(state, point, hint, controls);
  }
};

TEST(ServiceShellStatus, AReReportNeverOverwritesAStateReportedWhileItWasUnderWay) {
  SlowReReportShell shell;
  shell.Attach();
  const auto stateFor = [](std::uint32_t point) { return point % 2 ? 3u : 6u; };
  shell.ReportState(stateFor(0), 0, 1100, kU);
  std::atomic<bool> done{false};
  std::thread controls([&] {
    for (int i = 0; i < 100; ++i) shell.HandleControl(200, 0, nullptr);
    done = true;
  });
  for (std::uint32_t point = 1; !done; ++point) {
    shell.ReportState(stateFor(point), point, 1100, kU);
    std::this_thread::yield();
  }
  controls.join();

  ASSERT_GT(shell.reporter.sent.size(), 101u);
  for (const auto& status : shell.reporter.sent)
    ASSERT_EQ(status.currentState, stateFor(status.checkPoint)) << status.checkPoint;
}

// A service run as the dispatcher would start it, with the registration stood in for.
class RunShell : public TestShell {
 public:
  bool RegisterControlHandler() override {
    Attach();
    return true;
  }
  void ServiceMainBody(std::uint32_t argc, char** argv) override {
    arguments.assign(argv, argv + argc);
    ReportState(4, kU, kU, kU);
    if (terminate) throw hvs::CServiceShellTerminateException(1066, 42);
  }
  std::vector<std::string> arguments;
  bool terminate = false;
};

TEST(ServiceShellRun, ServiceMainReportsStoppedAfterTheMainRoutine) {
  RunShell shell;
  char name[] = "HvsTestService";
  char extra[] = "/x";
  char* argv[] = {name, extra, nullptr};
  shell.ServiceMain(2, argv);

  EXPECT_THAT(shell.arguments, ElementsAre("HvsTestService", "/x"));
  EXPECT_THAT(shell.reporter.sent,
              ElementsAre(Status(4, kStopPauseContinue), Status(1, 0)));
}

TEST(ServiceShellRun, TerminateExceptionCodesGoIntoTheStoppedReport) {
  RunShell shell;
  shell.terminate = true;
  shell.ServiceMain(0, nullptr);

  ASSERT_FALSE(shell.reporter.sent.empty());
  EXPECT_EQ(shell.reporter.sent.back(), Status(1, 0, 0, 0, 1066, 42));
}

TEST(ServiceShellRun, OutsideTheServiceControlManagerNoHandlerRegisters) {
  TestShell shell;
  EXPECT_FALSE(shell.RegisterControlHandler());
  EXPECT_EQ(shell.statusHandle, 0u);
}

TEST(ServiceShellRun, DispatcherRefusesAProcessStartedFromAConsoleWith1063) {
  TestShell shell;
  hvs::CServiceShellCommandLineInfo info;
  EXPECT_EQ(shell.ExecuteVerb(info), 1063u);
}

TEST(ServiceShellRun, ServiceNameTooLongForTheDispatchTableIsRefused) {
  const std::string longName(256, 'n');
  hvs::CServiceShell shell(longName.c_str(), "Long", "");
  platform::Error error = 0;
  EXPECT_FALSE(shell.RunUnderDispatcher(error));
  EXPECT_EQ(error, 123u);
}

// Outside a foreground run nothing is waited for.
TEST(ServiceShellConsole, CtrlCBreakCloseLogoffAndShutdownStopTheServiceOthersPassOn) {
  TestShell shell;
  EXPECT_TRUE(shell.OnConsoleControl(0));
  EXPECT_TRUE(shell.OnConsoleControl(1));
  EXPECT_TRUE(shell.OnConsoleControl(2));
  EXPECT_FALSE(shell.OnConsoleControl(3));
  EXPECT_FALSE(shell.OnConsoleControl(4));
  EXPECT_TRUE(shell.OnConsoleControl(5));  // log-off
  EXPECT_TRUE(shell.OnConsoleControl(6));  // system shutdown
  EXPECT_FALSE(shell.OnConsoleControl(7));
  EXPECT_THAT(shell.calls, ElementsAre("stop", "stop", "stop", "stop", "stop"));
}

// Sees which events the framework writes: every one of its ids passes EventIdFor.
class EventShell : public hvs::CServiceShell {
 public:
  EventShell() : CServiceShell("HvsTestService", "HVS Test Service", "") {}
  std::uint32_t EventIdFor(std::uint32_t eventId) override {
    ids.push_back(eventId);
    return eventId;
  }
  void DisableEvents() { eventLogging = false; }
  std::vector<std::uint32_t> ids;
};

TEST(ServiceShellEvents, BaseReactionsWriteTheirInformationEventsOnlyWhenLogging) {
  EventShell shell;
  shell.OnStop();
  shell.OnPause();
  shell.OnContinue();
  shell.OnShutdown();
  EXPECT_THAT(shell.ids, ElementsAre(0x40000003u, 0x40000004u, 0x40000005u, 0x40000009u));

  shell.ids.clear();
  shell.DisableEvents();
  shell.OnStop();
  shell.OnShutdown();
  EXPECT_TRUE(shell.ids.empty());
}

}  // namespace
