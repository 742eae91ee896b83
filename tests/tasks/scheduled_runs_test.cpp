// The catalogue's runs of Cron schedules, retries and disabled tasks, on real child programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tasks/task_catalogue.h"
#include "tests/support/child_process.h"
#include "tests/tasks/task_fixture.h"

namespace hvs::tasktest {
namespace {

// kTime is 22:13:20 UTC: the next five-minute mark is 100 s on, in every zone of whole
// quarter hours.
constexpr std::int64_t kNextMark = kTime + 100;

class ScheduledRunsTest : public TaskFixture {
 protected:
  // A task file of `name` starting `command`, with `elements` inside its task element.
  void WriteTask(const std::string& name, const std::string& command,
                 const std::string& elements) {
    testsupport::WriteFile(platform::JoinPath(context->ConfigDirectory(), name + ".xml"),
                           "<Task><Name>" + name + "</Name><Command>" + command + "</Command>" +
                               elements + "</Task>");
  }
  // A task of `name` starting `program` every hour, with `elements` besides.
  void WriteHourlyTask(const std::string& name, const std::string& program,
                       const std::string& elements) {
    WriteTask(name, CommandFor(program),
              elements + "<Schedule><WaitPeriodSeconds>3600</WaitPeriodSeconds></Schedule>");
  }
  // The ticks of the service from `from` to `to`, each second; the times at which a task
  // of `name` was started or refused, in order.
  std::vector<std::int64_t> Ticks(TaskCatalogue& catalogue, std::int64_t from, std::int64_t to,
                                  const std::string& name, bool untilFirst = false) {
    std::vector<std::int64_t> starts;
    for (std::int64_t now = from; now <= to && !(untilFirst && !starts.empty()); ++now) {
      clock.Set(now);
      const std::size_t mark = Mark();
      catalogue.RunDueTasks(now);
      for (const std::string& message : MessagesSince(mark))
        if (message.starts_with("Task '" + name + "' run by command: ")) starts.push_back(now);
      // The service's seconds pass at once here: a run still watched at the next time would
      // be skipped as running, which the real clock never lets happen.
      EXPECT_TRUE(Eventually([&] { return catalogue.AllFinished(); })) << now;
    }
    return starts;
  }
  std::size_t Count(const std::string& line) const {
    const std::vector<std::string> messages = LogMessages();
    return static_cast<std::size_t>(std::count(messages.begin(), messages.end(), line));
  }
};

using Times = std::vector<std::int64_t>;

// A new task waits for its first scheduled time, then runs at each one, once.
TEST_F(ScheduledRunsTest, ACronTaskRunsAtEachScheduledMinuteAndANewOneWaitsForTheFirst) {
  WriteTask("Marks", CommandFor(MissingProgram()),
            "<Schedule><Cron>*/5 * * * *</Cron><WaitPeriodSeconds>1</WaitPeriodSeconds></Schedule>");
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  EXPECT_EQ(Ticks(catalogue, kTime, kNextMark + 600, "Marks"),
            (Times{kNextMark, kNextMark + 300, kNextMark + 600}));
  EXPECT_EQ(StoredValue("Marks", "LastRun"), std::to_string(kNextMark + 600));
}

// After a restart the times missed since the stored LastRun make one run, at the first tick.
TEST_F(ScheduledRunsTest, MissedTimesRunOnceAtTheFirstTickAfterARestart) {
  context->settings().SetTaskValue("Marks", "LastRun", std::to_string(kTime - 3 * 3600));
  WriteTask("Marks", CommandFor(MissingProgram()), "<Schedule><Cron>*/5 * * * *</Cron></Schedule>");
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  EXPECT_EQ(Ticks(catalogue, kTime, kNextMark, "Marks"), (Times{kTime, kNextMark}));
}

// Due at once only when a scheduled time passed after the stored last run.
TEST_F(ScheduledRunsTest, ALastRunBeforeTheLatestScheduledTimeIsDueAndOneAfterItIsNot) {
  context->settings().SetTaskValue("Before", "LastRun", std::to_string(kTime - 201));
  context->settings().SetTaskValue("After", "LastRun", std::to_string(kTime - 200));
  WriteTask("Before", CommandFor(MissingProgram()), "<Schedule><Cron>*/5 * * * *</Cron></Schedule>");
  WriteTask("After", CommandFor(MissingProgram()), "<Schedule><Cron>*/5 * * * *</Cron></Schedule>");
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  // The latest mark passed at kTime - 200.
  EXPECT_EQ(Ticks(catalogue, kTime, kTime + 1, "Before"), (Times{kTime}));
  EXPECT_EQ(Ticks(catalogue, kTime + 2, kNextMark, "After"), (Times{kNextMark}));
}

// Each failed run is retried after RetryAfterSeconds, RetryCount times, then the period
// counts from the last retry; every retry is a run of its own with its end recorded.
TEST_F(ScheduledRunsTest, AFailingTaskIsRetriedAsConfiguredThenFollowsItsSchedule) {
  const std::string failing = NewProgram("exit3");
  WriteHourlyTask("Flaky", failing, "<RetryAfterSeconds>30</RetryAfterSeconds><RetryCount>2</RetryCount>");
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  Task& task = *catalogue.tasks().at("Flaky.xml");
  Times starts;
  std::int64_t now = kTime;
  for (int run = 1; run <= 3; ++run) {
    // Ticks until the next start; its end is recorded a minute later.
    const Times started = Ticks(catalogue, now, now + 60, "Flaky", true);
    ASSERT_EQ(started.size(), 1u) << "run " << run;
    starts.push_back(started.front());
    ASSERT_TRUE(WaitForStart(failing, static_cast<std::size_t>(run)));
    ASSERT_TRUE(Finished(task));
    now = started.front() + 61;
    clock.Set(now);
    catalogue.RecordEndedRuns();
    EXPECT_EQ(StoredValue("Flaky", "LastResult"), "exit code 3");
  }
  // The first start at once; each retry 30 s after the tick that recorded the failure.
  EXPECT_EQ(starts, (Times{kTime, kTime + 61 + 30, kTime + 61 + 30 + 61 + 30}));
  EXPECT_EQ(Count("Task 'Flaky' will be retried in 30 s (retry 1 of 2)."), 1u);
  EXPECT_EQ(Count("Task 'Flaky' will be retried in 30 s (retry 2 of 2)."), 1u);
  EXPECT_TRUE(Ticks(catalogue, now, starts.back() + 3600, "Flaky").empty());
  EXPECT_EQ(Ticks(catalogue, starts.back() + 3601, starts.back() + 3601, "Flaky"),
            (Times{starts.back() + 3601}));
}

TEST_F(ScheduledRunsTest, ASucceedingRunIsNotRetried) {
  const std::string quick = NewProgram("quick");
  WriteHourlyTask("Fine", quick, "<RetryAfterSeconds>1</RetryAfterSeconds><RetryCount>5</RetryCount>");
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  EXPECT_EQ(Ticks(catalogue, kTime, kTime, "Fine"), (Times{kTime}));
  ASSERT_TRUE(WaitForStart(quick));
  ASSERT_TRUE(Finished(*catalogue.tasks().at("Fine.xml")));
  EXPECT_TRUE(Ticks(catalogue, kTime + 1, kTime + 30, "Fine").empty());
  EXPECT_EQ(StoredValue("Fine", "LastResult"), "exit code 0");
}

// Disabled: loaded, never due, its registry record untouched; only "false" disables.
TEST_F(ScheduledRunsTest, ADisabledTaskLoadsButNeverStarts) {
  context->settings().SetTaskValue("Off", "LastRun", "1234");
  WriteTask("Off", CommandFor(MissingProgram()),
            "<Enabled>false</Enabled><Schedule><WaitPeriodSeconds>0</WaitPeriodSeconds></Schedule>");
  WriteTask("On", CommandFor(MissingProgram()),
            "<Enabled>False</Enabled><Schedule><WaitPeriodSeconds>0</WaitPeriodSeconds></Schedule>");
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  ASSERT_EQ(catalogue.tasks().size(), 2u);
  EXPECT_FALSE(catalogue.tasks().at("Off.xml")->Enabled);
  EXPECT_EQ(Ticks(catalogue, kTime, kTime, "On"), (Times{kTime}));
  EXPECT_TRUE(Ticks(catalogue, kTime, kTime + 5, "Off").empty());
  EXPECT_EQ(StoredValue("Off", "LastRun"), "1234");
  EXPECT_FALSE(catalogue.tasks().at("Off.xml")->NextDue());
}

}  // namespace
}  // namespace hvs::tasktest
