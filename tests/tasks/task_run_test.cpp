// One attempt to run a task: when it is due, what it logs, and the LastRun it records.
#include <gtest/gtest.h>

#include <climits>

#include "tasks/task.h"
#include "tests/support/child_process.h"
#include "tests/support/registry_tree.h"
#include "tests/support/registry_values.h"
#include "tests/tasks/task_fixture.h"

namespace hvs::tasktest {
namespace {

const std::string kTaskKey = "SOFTWARE\\Sorvane\\HVS\\";
const std::string kDatabaseKey = "SOFTWARE\\Sorvane\\Meridel Server\\Database";

class TaskRunTest : public TaskFixture {
 protected:
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
      // A stored LastRun may be any 64-bit number; the sum must not overflow.
      {INT64_MAX, 60, INT64_MAX, false},
      {INT64_MAX - 60, 60, INT64_MAX, false},
      {INT64_MIN, -5, INT64_MIN, true},
      {INT64_MIN + 5, -5, INT64_MIN, false},
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
  testsupport::PutString(kDatabaseKey, "Password", "s3cret");  // read by the refresh of the run
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
    if (c.setting != nullptr)
      testsupport::PutString(kTaskKey + "Show", "ShowFullCommand", c.setting);
    const std::size_t mark = Mark();
    task->Run();
    ASSERT_TRUE(Finished(*task));
    EXPECT_EQ(Timeless(MessagesSince(mark)),
              (std::vector<std::string>{c.logged,
                                        "Task 'Show' finished with exit code 0 after <t>."}))
        << (c.setting ? c.setting : "absent");
    if (c.setting == nullptr) {
      EXPECT_EQ(StoredValue("Show", "ShowFullCommand"), "0");
    }
  }
  EXPECT_EQ(StartsOf(quick).size(), std::size(cases));
  EXPECT_EQ(task->RunCommand, CommandFor(quick, "s3cret"));
  EXPECT_EQ(task->DisplayCommand, CommandFor(quick, "*****"));
}

// The command cannot even be started: the attempt still counts as the run. Up to 2038 the
// text is what a 32-bit store wrote; later times keep all their digits and read back whole,
// so a load after 2038 does not see a time before 1970 and run the task at once.
TEST_F(TaskRunTest, LastRunIsTheAttemptsTimeStoredInFullAndReadBackAsItself) {
  const struct {
    std::int64_t time;
    const char* stored;
  } cases[] = {
      {kTime, "1700000000"},
      {INT32_MAX, "2147483647"},
      {std::int64_t{INT32_MAX} + 101, "2147483748"},
      {-5, "-5"},
      {INT64_MAX, "9223372036854775807"},
  };
  auto task = NewTask("Late", CommandFor(MissingProgram()));
  for (const auto& c : cases) {
    clock.Set(c.time);
    task->Run();
    EXPECT_EQ(task->LastRun, c.time);
    EXPECT_EQ(StoredValue("Late", "LastRun"), c.stored);
    ASSERT_TRUE(Finished(*task));

    auto loaded = NewTask("Late", "");
    loaded->Load(platform::FileEntry{}, program / "absent.xml");
    EXPECT_EQ(loaded->LastRun, c.time) << c.stored;
  }
}

// The runtime's atoi rules, in 64 bits: beyond them the value saturates, as _atoi64 does.
TEST_F(TaskRunTest, AStoredLastRunIsReadWithAtoiRulesIn64Bits) {
  const struct {
    const char* stored;
    std::int64_t read;
  } cases[] = {
      {" \t+42x", 42},
      {"-2147483649", std::int64_t{INT32_MIN} - 1},
      {"4102444800 ", 4'102'444'800},  // 2100-01-01
      {"9223372036854775808", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"-99999999999999999999", INT64_MIN},
      {"12345678901234567890123", INT64_MAX},
      {"- 5", 0},
      {"x1", 0},
  };
  for (const auto& c : cases) {
    testsupport::PutString(kTaskKey + "Stored", "LastRun", c.stored);
    auto task = NewTask("Stored", "");
    task->Load(platform::FileEntry{}, program / "absent.xml");
    EXPECT_EQ(task->LastRun, c.read) << c.stored;
  }
}

// The watcher's line about the failed creation follows the line of the start, every time.
TEST_F(TaskRunTest, ACommandThatCannotBeStartedIsLoggedAsStartedAndThenAsFailed) {
  auto task = NewTask("Gone%", CommandFor(MissingProgram()), false, 1);
  const std::string run = "Task 'Gone%%' run by command: " + CommandFor(MissingProgram());
  const std::string failed = "Task 'Gone%%' could not be started: ";
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::size_t mark = Mark();
    task->Run();
    ASSERT_TRUE(Finished(*task));
    const std::vector<std::string> lines = MessagesSince(mark);
    ASSERT_EQ(lines.size(), 2u) << attempt;
    EXPECT_EQ(lines[0], run);
    EXPECT_TRUE(lines[1].starts_with(failed)) << lines[1];
  }
}

// The name's "%" is doubled for the log file, which shows "%%" where the console shows "%".
TEST_F(TaskRunTest, AProgramRunningElsewhereIsRefusedWithOneLinePerPeriod) {
  const std::string elsewhere = NewProgram("sleep");
  testsupport::ChildProcess other;
  ASSERT_TRUE(other.Start(elsewhere, "task-program", program / "starts"));
  ASSERT_NE(WaitForStart(elsewhere), 0u);

  // The program as the launcher would find it: Linux knows a running program by its file.
  auto task = NewTask("100%", testsupport::QuotedCommand(elsewhere) + " /nightly", false, 60);
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
  EXPECT_EQ(Timeless(MessagesSince(mark)),
            (std::vector<std::string>{KilledLine("Long%%"),
                                      "Variable NOSUCHNAME not defined for substitution", started}));
  EXPECT_EQ(task->LastRun, kTime + 11);
  const std::uint32_t secondId = WaitForStart(sleeper, 2);
  EXPECT_NE(secondId, firstId);
  EXPECT_TRUE(EndProcess(secondId));
  EXPECT_TRUE(Finished(*task));
}

}  // namespace
}  // namespace hvs::tasktest
