// The main loop of CHalvernService on an injected clock and sleep: ticks, pause, stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <regex>
#include <thread>
#include <vector>

#include "service/halvern_service.h"
#include "tasks/stop_event.h"
#include "tasks/watcher_threads.h"
#include "tests/support/child_process.h"
#include "tests/support/child_role.h"
#include "tests/support/fake_clock.h"
#include "tests/support/registry_tree.h"
#include "tests/support/test_env.h"

namespace hvs {
namespace {

constexpr const char* kSleeperRole = "service-task";

// A task's program: records its process id in the file named by its argument, then runs
// for half a minute unless it is ended first.
const bool kSleeper = testsupport::RegisterChildRole(kSleeperRole, [](const std::string& file) {
  testsupport::WriteFile(file, std::to_string(testsupport::CurrentProcessId()));
  std::this_thread::sleep_for(std::chrono::seconds(30));
  return 0;
});

struct Report {
  std::uint32_t state;
  std::uint32_t checkPoint;
  std::uint32_t waitHint;
  bool operator==(const Report&) const = default;
};

class RecordingReporter : public StatusReporter {
 public:
  bool Send(platform::ServiceStatusHandle, const platform::ServiceStatus& status) override {
    reports.push_back({status.currentState, status.checkPoint, status.waitHint});
    if (sleeping != nullptr) reportedInSleep.push_back(sleeping->load());
    return true;
  }
  std::vector<Report> reports;
  // With `sleeping` given: the number of the sleep under way at each report, 0 between.
  const std::atomic<int>* sleeping = nullptr;
  std::vector<int> reportedInSleep;
};

// Each sleep advances the fake clock and then runs what the test scheduled for it.
class ScriptedEnvironment : public LoopEnvironment {
 public:
  explicit ScriptedEnvironment(std::string directory) : directory_(std::move(directory)) {}
  const platform::Clock& clock() const override { return clock_; }
  void Sleep(std::uint32_t milliseconds) override {
    clock_.Advance(milliseconds / 1000);
    if (sleepForReal) {
      sleeping = sleeps + 1;
      const std::uint32_t start = platform::TickCount();
      LoopEnvironment::Sleep(milliseconds);
      slept.push_back(platform::TickCount() - start);
      sleeping = 0;
    }
    auto action = actions.find(++sleeps);
    if (action != actions.end()) action->second();
    if (sleeps > 100) onRunaway();  // a loop that never ends must still end the test
  }
  std::string ProgramDirectory() const override { return directory_; }
  // Each wait of the stop sequence is recorded. With `waitForReal` it is the real one, with
  // room for a slow machine; otherwise the tasks are looked at once and the wait times out.
  bool WaitUntil(std::uint32_t milliseconds, const std::function<bool()>& done) override {
    waits.push_back(milliseconds);
    const bool ended = waitForReal ? LoopEnvironment::WaitUntil(20'000, done) : done();
    waitsEnded.push_back(ended);
    clock_.Advance(milliseconds / 1000);
    return ended;
  }

  std::map<int, std::function<void()>> actions;
  std::function<void()> onRunaway;
  int sleeps = 0;
  bool waitForReal = false;
  std::vector<std::uint32_t> waits;
  std::vector<bool> waitsEnded;
  // With `sleepForReal` each sleep is also the real one, cut short by controls as the
  // program's is; `sleeping` numbers the one under way (0 between) and `slept` holds each
  // one's real milliseconds.
  bool sleepForReal = false;
  std::atomic<int> sleeping{0};
  std::vector<std::uint32_t> slept;

 private:
  std::string directory_;
  // Real time at the start, so that the log's daily roll-over leaves the live file alone.
  testsupport::FakeClock clock_;
};

class TestService : public CHalvernService {
 public:
  explicit TestService(LoopEnvironment& environment)
      : CHalvernService("HvsLoopTest", "HVS Loop Test", "test", &environment) {
    UseStatusReporter(reporter);
    statusHandle = 1;  // as if registered with the control manager, so reports are sent
  }
  void ReportServiceEvent(std::uint32_t eventId) override { events.push_back(eventId); }
  void ReportTaskEvent(std::uint16_t, std::uint32_t eventId,
                       const std::vector<std::string>&) override {
    events.push_back(eventId);
  }

  RecordingReporter reporter;
  std::vector<std::uint32_t> events;
};

constexpr std::uint32_t kRunning = platform::kServiceRunning;
constexpr std::uint32_t kPaused = platform::kServicePaused;
constexpr std::uint32_t kStopPending = platform::kServiceStopPending;

class MainLoopTest : public ::testing::Test {
 protected:
  MainLoopTest() : environment(program.path()), service(environment) {
    testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane");
    CreateStopEvent("");
    environment.onRunaway = [this] { service.OnStop(); };
    platform::CreateDirectory(program / "Config");
  }
  ~MainLoopTest() override {
    // No watcher may outlive its test while it starts a process: a later test changes the
    // environment that the start reads. Each test ends the processes of its tasks.
    EXPECT_TRUE(testsupport::Eventually(
        [] { return WatcherThreads::Shared().UnfinishedJobs() == 0; }))
        << "a watcher still runs at the end of the test";
    CloseStopEvent();
    testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane");
  }

  void Run() { service.ServiceMainBody(0, nullptr); }
  // A task whose program is this test itself: every run is refused at once as running
  // elsewhere, without a process or a thread, and logs one line.
  void AddTask(const std::string& file, const std::string& name) {
    const std::string self = platform::ProgramPath();
    const std::string command = self.substr(self.rfind(platform::PathSeparator()) + 1);
    testsupport::WriteFile(platform::JoinPath(program / "Config", file),
                           "<Task><Name>" + name + "</Name><Command>" + command +
                               "</Command><Schedule><WaitPeriodSeconds>0</WaitPeriodSeconds>"
                               "</Schedule></Task>");
  }
  // A task whose program runs until it is ended, started at the first tick; its process
  // id appears in the file that `ProcessIdOfTask` reads.
  void AddRunningTask(bool forceKill) {
    const std::string copy = program / ("sleeper_" + std::to_string(testsupport::CurrentProcessId()) + ".exe");
    ASSERT_TRUE(testsupport::CopySelfTo(copy));
    testsupport::WriteFile(platform::JoinPath(program / "Config", "run.xml"),
                           "<Task><Name>Run</Name><Command>" + testsupport::QuotedCommand(copy) +
                               "</Command><ForceKill>" + (forceKill ? "true" : "false") +
                               "</ForceKill><Schedule><WaitPeriodSeconds>0</WaitPeriodSeconds>"
                               "</Schedule></Task>");
  }
  std::uint32_t ProcessIdOfTask() {
    const std::string file = program / "task.pid";
    std::uint32_t id = 0;
    testsupport::Eventually([&] {
      if (testsupport::FileExists(file)) id = static_cast<std::uint32_t>(std::stoul("0" + testsupport::ReadFile(file)));
      return id != 0;
    });
    return id;
  }
  // Runs the service, stopping it at the second tick, once the first has started the
  // task's process; that process's id, 0 when none came.
  std::uint32_t RunAndStopOnceTheTaskRuns() {
    std::uint32_t id = 0;
    environment.actions[2] = [&] {
      id = ProcessIdOfTask();
      service.OnStop();
    };
    Run();
    return id;
  }
  static constexpr const char* kRefused = "] Task 'Job' is already running outside of this service.\r\n";
  std::string Log() { return testsupport::ReadFile(platform::JoinPath(program / "Logs", "HVS.Log")); }
  static int Count(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
  }

  testsupport::TempDirectory program;
  ScriptedEnvironment environment;
  TestService service;
};

TEST_F(MainLoopTest, StartLogsAndReportsBeforeTheFirstTickAndStopEndsTheRun) {
  environment.actions[1] = [this] { service.OnStop(); };
  Run();
  const std::string log = Log();
  EXPECT_EQ(log.find("["), 0u);
  EXPECT_EQ(log.find("] Service Started.\r\n"), log.find("]"));
  EXPECT_LT(log.find("Service Started."), log.find("Stopping Service"));
  EXPECT_LT(log.find("Stopping Service"), log.find("Service Stopped"));
  EXPECT_EQ(service.reporter.reports,
            (std::vector<Report>{{kRunning, 0, 0}, {kStopPending, 1, 1100}}));
  EXPECT_EQ(service.events, (std::vector<std::uint32_t>{kEventStarted, kEventStopped}));
  EXPECT_EQ(environment.sleeps, 1);  // every task finished: no wait at stop
}

TEST_F(MainLoopTest, StopDuringASleepStillOffersThatTick) {
  AddTask("job.xml", "Job");
  environment.actions[1] = [this] { service.OnStop(); };
  Run();
  const std::string log = Log();
  EXPECT_EQ(Count(log, kRefused), 1);
  EXPECT_LT(log.rfind(kRefused), log.find("Stopping Service"));
}

// A name that carries a line end and a stamp of its own cannot forge the service's lines:
// each of its log lines is one line with the name shown escaped; its registry key keeps it.
TEST_F(MainLoopTest, ANameWithControlCharactersGivesSingleEscapedLines) {
  const std::string name = "x\r\n[Wed, 09 Dec 2026 18:00:00 +0000] Service Stopped\x1b[2J";
  const std::string shown = "x\\r\\n[Wed, 09 Dec 2026 18:00:00 +0000] Service Stopped\\x1b[2J";
  AddTask("job.xml", "x&#13;&#10;[Wed, 09 Dec 2026 18:00:00 +0000] Service Stopped&#27;[2J");
  environment.actions[1] = [this] { service.OnStop(); };
  Run();
  const std::string log = Log();
  EXPECT_EQ(Count(log, "] Loaded task: " + shown + "\r\n"), 1) << log;
  EXPECT_EQ(Count(log, "] Task '" + shown + "' is already running outside of this service.\r\n"), 1)
      << log;
  EXPECT_EQ(Count(log, "Service Stopped\r\n"), 1) << log;
  // Every line is one that the service wrote: stamped, and no control character but its end.
  const std::regex stamped(R"(\[\w{3}, \d\d \w{3} \d{4} \d\d:\d\d:\d\d [+-]\d{4}\] [^\r\n]*)");
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
  for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
    const std::string line = log.substr(at, end - at);
    EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    EXPECT_TRUE(std::none_of(line.begin(), line.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || c == '\x7f';
    })) << line;
  }
  EXPECT_TRUE(testsupport::KeyExists("SOFTWARE\\Sorvane\\HVS\\" + name));
}

TEST_F(MainLoopTest, StopBeforeTheLoopOffersNothing) {
  AddTask("job.xml", "Job");
  service.OnStop();
  Run();
  const std::string log = Log();
  EXPECT_EQ(Count(log, "] Loaded task: Job\r\n"), 1);  // the first reload still happens
  EXPECT_EQ(Count(log, kRefused), 0);
  EXPECT_EQ(environment.sleeps, 0);
}

TEST_F(MainLoopTest, PauseAndContinueBetweenTwoTicksLeaveNoTrace) {
  environment.actions[1] = [this] {
    service.OnPause();
    service.OnContinue();
  };
  environment.actions[2] = [this] { service.OnStop(); };
  Run();
  EXPECT_EQ(service.reporter.reports,
            (std::vector<Report>{{kRunning, 0, 0}, {kStopPending, 1, 1100}}));
  EXPECT_EQ(service.events, (std::vector<std::uint32_t>{kEventStarted, kEventStopped}));
}

TEST_F(MainLoopTest, PauseStopsOffersAndContinueResumesThem) {
  AddTask("job.xml", "Job");
  environment.actions[1] = [this] { service.OnPause(); };
  environment.actions[3] = [this] { service.OnContinue(); };
  environment.actions[4] = [this] { service.OnStop(); };
  Run();
  // Ticks 1 and 2 are paused (the pause arrived during the first sleep); 3 and 4 offer.
  EXPECT_EQ(Count(Log(), kRefused), 2);
  EXPECT_EQ(service.reporter.reports,
            (std::vector<Report>{{kRunning, 0, 0}, {kPaused, 0, 0}, {kRunning, 0, 0},
                                 {kStopPending, 1, 1100}}));
  EXPECT_EQ(service.events, (std::vector<std::uint32_t>{kEventStarted, kEventPaused,
                                                        kEventContinued, kEventStopped}));
}

TEST_F(MainLoopTest, StopWhilePausedReportsNoContinue) {
  environment.actions[1] = [this] { service.OnPause(); };
  environment.actions[3] = [this] { service.OnStop(); };
  Run();
  EXPECT_EQ(service.reporter.reports,
            (std::vector<Report>{{kRunning, 0, 0}, {kPaused, 0, 0}, {kStopPending, 1, 1100}}));
  EXPECT_EQ(service.events,
            (std::vector<std::uint32_t>{kEventStarted, kEventPaused, kEventStopped}));
}

// A pause and a continue within a tick are reported at once, during its sleep, and the tick
// still lasts its second; a stop ends the sleep under way.
TEST_F(MainLoopTest, ControlsAreAnsweredWithinTheSleepAndOnlyTheStopCutsItShort) {
  environment.sleepForReal = true;
  service.reporter.sleeping = &environment.sleeping;
  std::thread controls([this] {
    const auto during = [this](int sleep) {
      return testsupport::Eventually([&] { return environment.sleeping.load() == sleep; });
    };
    if (during(1)) service.OnPause();
    if (during(2)) service.OnContinue();
    during(3);
    service.OnStop();
  });
  Run();
  controls.join();
  EXPECT_EQ(service.reporter.reports,
            (std::vector<Report>{{kRunning, 0, 0}, {kPaused, 0, 0}, {kRunning, 0, 0},
                                 {kStopPending, 1, 1100}}));
  EXPECT_EQ(service.reporter.reportedInSleep, (std::vector<int>{0, 1, 2, 0}));
  EXPECT_EQ(service.events, (std::vector<std::uint32_t>{kEventStarted, kEventPaused,
                                                        kEventContinued, kEventStopped}));
  ASSERT_EQ(environment.slept.size(), 3u);
  EXPECT_GE(environment.slept[0], 1000u);
  EXPECT_GE(environment.slept[1], 1000u);
  EXPECT_LT(environment.slept[2], 1000u) << "the stop waited for the tick's end";
}

TEST_F(MainLoopTest, IntervalZeroReloadsInEveryTick) {
  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryKey::LocalMachine().Create("SOFTWARE\\Sorvane\\HVS",
                                                         platform::kKeyAllAccess, key), 0u);
  ASSERT_EQ(key.SetValue("LoadTaskInterval", platform::kRegSz, "0", 1), 0u);
  testsupport::WriteFile(platform::JoinPath(program / "Config", "broken.xml"), "<Task><Name>");
  environment.actions[3] = [this] { service.OnStop(); };
  Run();
  // A broken file is tried at every reload: the first one and one per tick.
  EXPECT_EQ(Count(Log(), "] Task configuration file 'broken.xml' could not load.\r\n"), 4);
}

TEST_F(MainLoopTest, DefaultIntervalReloadsAfterSixtySeconds) {
  testsupport::WriteFile(platform::JoinPath(program / "Config", "broken.xml"), "<Task><Name>");
  environment.actions[61] = [this] { service.OnStop(); };
  Run();
  EXPECT_EQ(Count(Log(), "could not load"), 2);  // at start and at the tick 60 s later
  EXPECT_EQ(environment.sleeps, 61);
}

TEST_F(MainLoopTest, StopEventThatCannotBeSetIsLoggedAndTheStopGoesOn) {
  CloseStopEvent();
  environment.actions[1] = [this] { service.OnStop(); };
  Run();
  const std::string log = Log();
  EXPECT_NE(log.find("] Could not send shutdown event\r\n"), std::string::npos);
  EXPECT_LT(log.find("Could not send shutdown event"), log.find("Service Stopped"));
}

TEST_F(MainLoopTest, TheStopGoesOnAsSoonAsTheWatchersHaveEndedWithTheSameReports) {
  const testsupport::ChildRoleEnvironment role(kSleeperRole, program / "task.pid");
  AddRunningTask(true);
  environment.waitForReal = true;
  const std::uint32_t id = RunAndStopOnceTheTaskRuns();
  ASSERT_NE(id, 0u);
  // The ForceKill task's process is killed at the stop event. Mostly the one wait ended with
  // it, not with the tick, and the report of checkpoint 2 came then; on a busy machine the
  // watcher may have ended before the stop sequence looked, and then nothing is waited for.
  ASSERT_LE(environment.waits.size(), 1u);
  EXPECT_EQ(environment.waits, std::vector<std::uint32_t>(environment.waits.size(), 1000));
  EXPECT_EQ(environment.waitsEnded, std::vector<bool>(environment.waits.size(), true));
  EXPECT_EQ(environment.sleeps, 2);
  std::vector<Report> expected{{kRunning, 0, 0}, {kStopPending, 1, 1100}};
  if (!environment.waits.empty()) expected.push_back({kStopPending, 2, 1100});
  EXPECT_EQ(service.reporter.reports, expected);
  EXPECT_TRUE(testsupport::Eventually([&] { return !testsupport::ProcessIdInUse(id); }));
  const std::string log = Log();
  EXPECT_EQ(Count(log, "] Task 'Run' run by command: "), 1);
  EXPECT_LT(log.find("Stopping Service"), log.find("Service Stopped"));
  // The run's end is logged and recorded before the service says it has stopped.
  const std::size_t ended = log.find("] Task 'Run' was ended by the service stop after ");
  EXPECT_LT(log.find("Stopping Service"), ended);
  EXPECT_LT(ended, log.find("Service Stopped"));
  std::string result;
  EXPECT_TRUE(testsupport::ReadRawValue("SOFTWARE\\Sorvane\\HVS\\Run", "LastResult", result));
  EXPECT_EQ(result, "ended at stop");
}

// A run without ForceKill is left running, and the stop says so before it has stopped.
TEST_F(MainLoopTest, TheStopLogsARunItLeavesRunningBeforeItHasStopped) {
  const testsupport::ChildRoleEnvironment role(kSleeperRole, program / "task.pid");
  AddRunningTask(false);
  environment.waitForReal = true;
  const std::uint32_t id = RunAndStopOnceTheTaskRuns();
  ASSERT_NE(id, 0u);
  EXPECT_TRUE(testsupport::ProcessIdInUse(id));
  EXPECT_TRUE(testsupport::KillProcessId(id));
  const std::string log = Log();
  const std::size_t left =
      log.find("] Task 'Run' is still running as the service stops and is left running.");
  EXPECT_LT(log.find("Stopping Service"), left);
  EXPECT_LT(left, log.find("Service Stopped"));
  std::string result;
  EXPECT_FALSE(testsupport::ReadRawValue("SOFTWARE\\Sorvane\\HVS\\Run", "LastResult", result));
}

TEST_F(MainLoopTest, TasksThatDoNotEndAreWaitedForNineTicksWithCheckpointsTwoToTen) {
  const testsupport::ChildRoleEnvironment role(kSleeperRole, program / "task.pid");
  AddRunningTask(false);
  CloseStopEvent();  // the watcher waits for its process alone, which runs on
  const std::uint32_t id = RunAndStopOnceTheTaskRuns();
  ASSERT_NE(id, 0u);
  EXPECT_TRUE(testsupport::KillProcessId(id));
  EXPECT_EQ(environment.waits, std::vector<std::uint32_t>(9, 1000));
  EXPECT_EQ(environment.waitsEnded, std::vector<bool>(9, false));
  std::vector<Report> expected{{kRunning, 0, 0}};
  for (std::uint32_t checkPoint = 1; checkPoint <= 10; ++checkPoint)
    expected.push_back({kStopPending, checkPoint, 1100});
  EXPECT_EQ(service.reporter.reports, expected);
}

TEST(LoopEnvironmentTest, WaitUntilReturnsOnceDoneHoldsAndFalseAfterItsTime) {
  LoopEnvironment environment;
  int looks = 0;
  EXPECT_TRUE(environment.WaitUntil(60'000, [&] { return ++looks == 3; }));
  EXPECT_EQ(looks, 3);
  const std::uint32_t start = platform::TickCount();
  EXPECT_FALSE(environment.WaitUntil(50, [] { return false; }));
  EXPECT_GE(platform::TickCount() - start, 50u);
  EXPECT_TRUE(environment.WaitUntil(0, [] { return true; }));
}

}  // namespace
}  // namespace hvs
