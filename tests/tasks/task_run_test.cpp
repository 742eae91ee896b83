// One attempt to run a task: when it is due, what it logs, and the LastRun it records.
#include <gtest/gtest.h>

#include <climits>

#include "tasks/task.h"
#include "tests/support/child_process.h"
#include "tests/support/registry_tree.h"
#include "tests/tasks/task_fixture.h"

namespace hvs::tasktest {
namespace {

const std::string kTaskKey = "SOFTWARE\\Sorvane\\HVS\\";
const std::string kDatabaseKey = "SOFTWARE\\Sorvane\\Meridel Server\\Database";

class TaskRunTest : public TaskFixture {
 protected:
  std::string StoredValue(const std::string& task, const std::string& name) {
    std::string bytes;
    return testsupport::ReadRawValue(kTaskKey + task, name, bytes) ? bytes : "<absent>";
  }
  void PutValue(const std::string& key, const std::string& name, const std::string& text) {
    platform::RegistryKey handle;
    ASSERT_EQ(platform::RegistryKey::LocalMachine().Create(key, platform::kKeyAllAccess, handle),
              platform::kSuccess);
    ASSERT_EQ(handle.SetValue(name, platform::kRegSz, text.data(),
                              static_cast<std::uint32_t>(text.size())),
              platform::kSuccess);
  }
  // The ticks of the main loop from `from` to `to`, each running the task when due.
  void Tick(Task& task, std::int64_t from, std::int64_t to) {
    for (std::int64_t now = from; now <= to; ++now) {
      clock.Set(now);
      if (task.IsDue(now)) task.Run();
    }
  }
};

TEST_F(TaskRunTest, DueOnlyOnceThePeriodHasFullyPassedInSigned64BitArithmetic) {
  struct Case {
    std::int64_t lastRun;
    std::int32_t period;
    std::int64_t now;
    bool due;
  };
  const Case cases[] = {
      {kTime, 60, kTime + 60, false},
      {kTime, 60, kTime + 61, true},
      {kTime, -5, kTime - 5, false},
      {kTime, -5, kTime - 4, true},
      {kTime + 1000, 60, kTime + 1060, false},  // clock set back below a recorded run
      {3'000'000'000, INT32_MAX, 3'000'000'000 + std::int64_t{INT32_MAX}, false},
      {3'000'000'000, INT32_MAX, 3'000'000'000 + std::int64_t{INT32_MAX} + 1, true},
  };
  auto task = NewTask("Due", "");
  for (const Case& c : cases) {
    task->LastRun = c.lastRun;
    task->WaitPeriodSeconds = c.period;
    EXPECT_EQ(task->IsDue(c.now), c.due) << c.lastRun << " + " << c.period << " at " << c.now;
  }
}

TEST_F(TaskRunTest, ATaskNotLoadedLogsItsNameAsItIsAndChangesNothing) {
  auto task = NewTask("50% off", CommandFor(NewProgram("quick")));
  task->Loaded = false;
  task->Run();
  EXPECT_EQ(LogMessages(), std::vector<std::string>{
                               "Task '50% off' cannot be run because it hasn't been loaded."});
  EXPECT_EQ(task->LastRun, 0);
  EXPECT_FALSE(task->watcher.IsRunning());
  EXPECT_FALSE(testsupport::KeyExists(kTaskKey + "50% off"));
}

TEST_F(TaskRunTest, TheLoggedCommandIsMaskedUnlessShowFullCommandIsExactlyOne) {
  PutValue(kDatabaseKey, "Password", "s3cret");  // read by the refresh of the run
  const std::string quick = NewProgram("quick");
  auto task = NewTask("Show", CommandFor(quick, "%DATABASEPASSWORD%"));
  const std::string masked = "Task 'Show' run by command: " + CommandFor(quick, "*****");
  const std::string full = "Task 'Show' run by command: " + CommandFor(quick, "s3cret");

  struct Case {
    const char* setting;  // null: absent
    std::string logged;
  };
  const Case cases[] = {{nullptr, masked}, {"0", masked}, {"1", full}, {"2", masked}, {" 1", full}};
  for (const Case& c : cases) {
    if (c.setting != nullptr) PutValue(kTaskKey + "Show", "ShowFullCommand", c.setting);
    const std::size_t mark = Mark();
    task->Run();
    EXPECT_EQ(MessagesSince(mark), std::vector<std::string>{c.logged})
        << (c.setting ? c.setting : "absent");
    ASSERT_TRUE(Finished(*task));
    if (c.setting == nullptr) {
      EXPECT_EQ(StoredValue("Show", "ShowFullCommand"), "0");
    }
  }
  EXPECT_EQ(StartsOf(quick).size(), std::size(cases));
  EXPECT_EQ(task->RunCommand, CommandFor(quick, "s3cret"));
  EXPECT_EQ(task->DisplayCommand, CommandFor(quick, "*****"));
}

// The command cannot even be started: the attempt still counts as the run.
TEST_F(TaskRunTest, LastRunIsTheAttemptsTimeStoredAsItsLowThirtyTwoBitsSigned) {
  auto task = NewTask("Late", CommandFor(MissingProgram()));
  clock.Set(kTime);
  task->Run();
  EXPECT_EQ(task->LastRun, kTime);
  EXPECT_EQ(StoredValue("Late", "LastRun"), "1700000000");
  ASSERT_TRUE(Finished(*task));

  const std::int64_t after2038 = std::int64_t{INT32_MAX} + 101;  // low 32 bits: INT32_MIN + 100
  clock.Set(after2038);
  task->Run();
  EXPECT_EQ(task->LastRun, after2038);
  EXPECT_EQ(StoredValue("Late", "LastRun"), "-2147483548");
  ASSERT_TRUE(Finished(*task));
}

// The name's "%" is doubled for the log file, which shows "%%" where the console shows "%".
TEST_F(TaskRunTest, AProgramRunningElsewhereIsRefusedWithOneLinePerPeriod) {
  const std::string elsewhere = NewProgram("sleep");
  const std::string name = elsewhere.substr(elsewhere.find_last_of(platform::PathSeparator()) + 1);
  testsupport::ChildProcess other;
  ASSERT_TRUE(other.Start(elsewhere, "task-program", program / "starts"));
  ASSERT_NE(WaitForStart(elsewhere), 0u);

  auto task = NewTask("100%", name + " /nightly", false, 60);
  Tick(*task, kTime, kTime + 61);
  const std::string refusal = "Task '100%%' is already running outside of this service.";
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{refusal, refusal}));
  EXPECT_EQ(task->LastRun, kTime + 61);
  EXPECT_EQ(StoredValue("100%", "LastRun"), std::to_string(kTime + 61));
  EXPECT_FALSE(task->watcher.IsRunning());
  EXPECT_EQ(StartsOf(elsewhere).size(), 1u);
  EXPECT_TRUE(other.Kill());
}

// Nothing at all is logged while the task's own process runs, not even the complaint
// about its undefined variable; the first tick after its end starts it again.
TEST_F(TaskRunTest, AProcessOutlivingItsPeriodIsLeftAloneAndRestartedAtTheFirstTickAfterIt) {
  const std::string sleeper = NewProgram("sleep");
  auto task = NewTask("Long%", CommandFor(sleeper, "%NOSUCHNAME%"), false, 1);
  Tick(*task, kTime, kTime);
  const std::string started =
      "Task 'Long%%' run by command: " + CommandFor(sleeper, "%%NOSUCHNAME%%");
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{
                               "Variable NOSUCHNAME not defined for substitution", started}));
  const std::uint32_t firstId = WaitForStart(sleeper);
  ASSERT_NE(firstId, 0u);

  const std::size_t mark = Mark();
  Tick(*task, kTime + 1, kTime + 10);
  EXPECT_TRUE(MessagesSince(mark).empty());
  EXPECT_EQ(task->LastRun, kTime);
  EXPECT_EQ(task->watcher.Start(), StartResult::AlreadyRunning);

  ASSERT_TRUE(EndProcess(firstId));
  ASSERT_TRUE(Finished(*task));
  Tick(*task, kTime + 11, kTime + 11);
  EXPECT_EQ(MessagesSince(mark), (std::vector<std::string>{
                                     "Variable NOSUCHNAME not defined for substitution", started}));
  EXPECT_EQ(task->LastRun, kTime + 11);
  const std::uint32_t secondId = WaitForStart(sleeper, 2);
  EXPECT_NE(secondId, firstId);
  EXPECT_TRUE(EndProcess(secondId));
  EXPECT_TRUE(Finished(*task));
}

}  // namespace
}  // namespace hvs::tasktest
