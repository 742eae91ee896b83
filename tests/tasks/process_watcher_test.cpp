// The process watcher on real child processes: its running mark, the stop, and its copies.
#include <gtest/gtest.h>

#include "platform/error_text.h"
#include "platform/process.h"
#include "tasks/process_watcher.h"
#include "tasks/stop_event.h"
#include "tests/support/child_process.h"
#include "tests/tasks/task_fixture.h"

namespace hvs::tasktest {
namespace {

using namespace std::chrono_literals;

class ProcessWatcherTest : public TaskFixture {};

// The mark is set before Start returns, so the short program cannot end unseen.
TEST_F(ProcessWatcherTest, RunningFromTheMomentStartReturnsUntilTheProcessHasEnded) {
  const std::string quick = NewProgram("quick");
  auto task = NewTask("Quick", CommandFor(quick));
  EXPECT_FALSE(task->watcher.IsRunning());

  ASSERT_EQ(task->watcher.Start(), StartResult::Started);
  EXPECT_TRUE(task->watcher.IsRunning());
  EXPECT_NE(WaitForStart(quick), 0u);
  EXPECT_TRUE(Finished(*task));
  EXPECT_EQ(StartsOf(quick).size(), 1u);
  EXPECT_EQ(Timeless(LogMessages()),
            std::vector<std::string>{"Task 'Quick' finished with exit code 0 after <t>."});
}

// Started all the same (the task run has already logged the start), so the thread says why
// not, with the system's text; "%" is doubled in the name and in that text (Windows' text
// for a file that is no program holds "%1").
TEST_F(ProcessWatcherTest, ACommandThatCannotBeCreatedClearsItsMarkAtOnceAndLogsTheSystemsReason) {
  const std::string notAProgram = program / "not_a_program.exe";
  testsupport::WriteFile(notAProgram, "plain text\r\n");
  const struct {
    std::string name;
    std::string command;
  } cases[] = {
      {"Missing 100%", CommandFor(MissingProgram(), "/x")},
      {"Text", CommandFor(notAProgram)},
  };
  for (const auto& c : cases) {
    platform::Process probe;
    const platform::Error reason = probe.Create(c.command);
    ASSERT_NE(reason, platform::kSuccess) << c.command;
    std::string text = platform::SystemErrorText(reason);
    ASSERT_TRUE(text.ends_with("\r\n")) << reason;
    text.resize(text.size() - 2);

    auto task = NewTask(c.name, c.command);
    const std::size_t mark = Mark();
    ASSERT_EQ(task->watcher.Start(), StartResult::Started);
    EXPECT_TRUE(Eventually([&] { return !task->watcher.IsRunning(); }, 2s));
    EXPECT_EQ(MessagesSince(mark), std::vector<std::string>{"Task '" + EscapePercent(c.name) +
                                                            "' could not be started: " +
                                                            EscapePercent(text)});
    // Nothing of the failed start is left to refuse the next one.
    EXPECT_EQ(task->watcher.Start(), StartResult::Started);
    EXPECT_TRUE(Finished(*task));
  }
}

// Two tasks running at the stop: each watcher treats its own process by its own ForceKill.
TEST_F(ProcessWatcherTest, AtTheStopForceKillEndsTheProcessAndWithoutItTheProcessRunsOn) {
  const std::string killed = NewProgram("sleep");
  const std::string survivor = NewProgram("sleep");
  auto killedTask = NewTask("Killed", CommandFor(killed), true);
  auto survivorTask = NewTask("Survivor", CommandFor(survivor), false);
  ASSERT_EQ(killedTask->watcher.Start(), StartResult::Started);
  ASSERT_EQ(survivorTask->watcher.Start(), StartResult::Started);
  const std::uint32_t killedId = WaitForStart(killed);
  const std::uint32_t survivorId = WaitForStart(survivor);
  ASSERT_NE(killedId, 0u);
  ASSERT_NE(survivorId, 0u);

  ASSERT_EQ(SetStopEvent(), platform::kSuccess);
  EXPECT_TRUE(Finished(*killedTask));
  EXPECT_TRUE(Finished(*survivorTask));
  EXPECT_TRUE(Eventually([&] { return !testsupport::ProcessIdInUse(killedId); }));
  EXPECT_TRUE(testsupport::ProcessIdInUse(survivorId));
  EXPECT_TRUE(EndProcess(survivorId));
}

TEST_F(ProcessWatcherTest, ARunningProcessKeepsTheCommandAndForceKillOfItsStart) {
  const std::string first = NewProgram("sleep");
  const std::string second = NewProgram("sleep");
  auto task = NewTask("Changing", CommandFor(first), false);
  ASSERT_EQ(task->watcher.Start(), StartResult::Started);
  const std::uint32_t firstId = WaitForStart(first);
  ASSERT_NE(firstId, 0u);

  task->RunCommand = CommandFor(second);
  task->ForceKill = true;
  EXPECT_EQ(task->watcher.Start(), StartResult::AlreadyRunning);
  ASSERT_EQ(SetStopEvent(), platform::kSuccess);
  EXPECT_TRUE(Finished(*task));
  EXPECT_TRUE(testsupport::ProcessIdInUse(firstId));  // started without ForceKill
  EXPECT_TRUE(EndProcess(firstId));
  EXPECT_TRUE(StartsOf(second).empty());

  // The next start, in a new run, takes the new values.
  ASSERT_EQ(CreateStopEvent(""), platform::kSuccess);
  ASSERT_EQ(task->watcher.Start(), StartResult::Started);
  const std::uint32_t secondId = WaitForStart(second);
  ASSERT_NE(secondId, 0u);
  ASSERT_EQ(SetStopEvent(), platform::kSuccess);
  EXPECT_TRUE(Eventually([&] { return !testsupport::ProcessIdInUse(secondId); }));
  EXPECT_TRUE(Finished(*task));
}

// Under AddressSanitizer a thread left on the destroyed task's memory is reported.
TEST_F(ProcessWatcherTest, ATaskDestroyedWhileItsProcessRunsLeavesAWatcherThatStillActsAtTheStop) {
  const std::string sleeper = NewProgram("sleep");
  auto task = NewTask("Removed", CommandFor(sleeper), true);
  ASSERT_EQ(task->watcher.Start(), StartResult::Started);
  const std::uint32_t id = WaitForStart(sleeper);
  ASSERT_NE(id, 0u);

  task.reset();
  EXPECT_TRUE(testsupport::ProcessIdInUse(id));
  ASSERT_EQ(SetStopEvent(), platform::kSuccess);
  EXPECT_TRUE(Eventually([&] { return !testsupport::ProcessIdInUse(id); }));
  std::this_thread::sleep_for(100ms);  // lets the thread reach its last step within this test
}

// A watcher waits on the event of its own start: a new run's event, set or given up,
// does not end it, and a start without any event still waits for its process.
TEST_F(ProcessWatcherTest, AWatcherIgnoresANewRunsEventAndOneWithoutAnyWaitsForItsProcess) {
  const std::string first = NewProgram("sleep");
  const std::string second = NewProgram("sleep");
  auto earlier = NewTask("Earlier", CommandFor(first), true);
  ASSERT_EQ(earlier->watcher.Start(), StartResult::Started);
  const std::uint32_t firstId = WaitForStart(first);
  ASSERT_NE(firstId, 0u);

  ASSERT_EQ(CreateStopEvent(""), platform::kSuccess);
  ASSERT_EQ(SetStopEvent(), platform::kSuccess);
  CloseStopEvent();
  auto withoutEvent = NewTask("WithoutEvent", CommandFor(second), true);
  ASSERT_EQ(withoutEvent->watcher.Start(), StartResult::Started);
  const std::uint32_t secondId = WaitForStart(second);
  ASSERT_NE(secondId, 0u);
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(earlier->watcher.IsRunning());
  EXPECT_TRUE(withoutEvent->watcher.IsRunning());
  EXPECT_EQ(SetStopEvent(), platform::kInvalidHandle);

  EXPECT_TRUE(EndProcess(firstId));
  EXPECT_TRUE(EndProcess(secondId));
  EXPECT_TRUE(Finished(*earlier));
  EXPECT_TRUE(Finished(*withoutEvent));
}

}  // namespace
}  // namespace hvs::tasktest
