// How each run ends, with real processes: its log line, its result in the registry, and its group.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tasks/run_outcome.h"
#include "tasks/stop_event.h"
#include "tasks/task.h"
#include "tests/support/child_process.h"
#include "platform/eventlog.h"
#include "tests/support/registry_tree.h"
#include "tests/support/registry_values.h"
#include "tests/tasks/task_fixture.h"

namespace hvs::tasktest {
namespace {

const std::string kTaskKey = "SOFTWARE\\Sorvane\\HVS\\";

class RunEndTest : public TaskFixture {
 protected:
  // A "tree" program whose child is a "sleep" program; returns the tree's command.
  std::string TreeWithSleeper(std::string& sleeper, std::string* tree = nullptr) {
    const std::string path = NewProgram("tree");
    sleeper = NewProgram("sleep");
    StartsWith(path, CommandFor(sleeper));
    if (tree) *tree = path;
    return CommandFor(path);
  }
  // Whole seconds stored as "LastDuration".
  int StoredSeconds(const std::string& task) {
    const std::string text = StoredValue(task, "LastDuration");
    return text.find_first_not_of("0123456789") == std::string::npos && !text.empty()
               ? std::stoi(text)
               : -1;
  }
};

TEST(RunOutcomeTexts, DurationsAndExitCodesReadAsTheLogShowsThem) {
  const std::pair<std::uint64_t, const char*> durations[] = {
      {0, "0.0 s"},        {449, "0.4 s"},          {9'999, "9.9 s"},
      {10'000, "10 s"},    {59'999, "59 s"},        {60'000, "1 min"},
      {200'000, "3 min 20 s"}, {7'500'000, "2 h 5 min"}, {3'600'000, "1 h"},
      {273'600'000, "3 d 4 h"},  {86'400'000, "1 d"},   {90'061'000, "1 d 1 h"}};
  for (const auto& [milliseconds, text] : durations)
    EXPECT_EQ(FormatDuration(milliseconds), text) << milliseconds;
  const std::pair<std::uint32_t, const char*> codes[] = {
      {0, "0"}, {3, "3"}, {0xBFFFFFFF, "3221225471"}, {0xC0000005, "3221225477 (0xC0000005)"},
      {0xFFFFFFFF, "4294967295 (0xFFFFFFFF)"}};
  for (const auto& [code, text] : codes) EXPECT_EQ(ExitCodeText(code), text) << code;
}

// A run that ends, by itself or at its time limit, logs how and leaves its result behind.
TEST_F(RunEndTest, EachEndIsLoggedAfterTheStartAndRecordedAsTheLastResult) {
  const platform::ExitStatus crashed = testsupport::TerminatedExitStatus().signal != 0
                                           ? platform::ExitStatus{0, 11}
                                           : platform::ExitStatus{0xC0000005, 0};
  const std::string crashResult =
      crashed.signal ? "signal 11 (SIGSEGV)" : "exit code 3221225477 (0xC0000005)";
  const std::string crashLine =
      crashed.signal ? "was ended by signal 11 (SIGSEGV) after <t>."
                     : "finished with exit code 3221225477 (0xC0000005) after <t>.";
  std::string sleeper;
  const struct {
    std::string name;
    std::string command;
    std::int32_t timeLimit;
    std::string line;    // after "Task '<name>' "
    std::string result;  // LastResult
  } cases[] = {
      {"Zero", CommandFor(NewProgram("quick")), 0, "finished with exit code 0 after <t>.",
       "exit code 0"},
      {"Three", CommandFor(NewProgram("exit3")), 60, "finished with exit code 3 after <t>.",
       "exit code 3"},
      {"Crash", CommandFor(NewProgram("crash")), 0, crashLine, crashResult},
      {"Hung", TreeWithSleeper(sleeper), 1,
       "exceeded its time limit of 1.0 s and was ended after <t>.", "time limit"},
  };
  for (const auto& c : cases) {
    auto task = NewTask(c.name, c.command);
    task->TimeLimit = c.timeLimit;
    const std::size_t mark = Mark();
    task->Run();
    ASSERT_TRUE(Finished(*task)) << c.name;
    EXPECT_EQ(Timeless(MessagesSince(mark)),
              (std::vector<std::string>{"Task '" + c.name + "' run by command: " + c.command,
                                        "Task '" + c.name + "' " + c.line}));
    EXPECT_EQ(StoredValue(c.name, "LastResult"), "<absent>") << "recorded by the service thread";
    task->RecordEndedRun();
    EXPECT_EQ(StoredValue(c.name, "LastResult"), c.result);
    // A time limit of a second ends the run after it; the others end at once.
    const int seconds = StoredSeconds(c.name);
    EXPECT_GE(seconds, c.timeLimit == 1 ? 1 : 0) << c.name;
    EXPECT_LT(seconds, 10) << c.name;
  }
  // The time limit ended the tree's child with it.
  const std::uint32_t child = WaitForStart(sleeper);
  ASSERT_NE(child, 0u);
  EXPECT_TRUE(Eventually([&] { return !testsupport::ProcessIdRuns(child); }));
}

// At the stop a ForceKill run ends with everything it started; any other is left running.
TEST_F(RunEndTest, AtTheStopAForceKillRunEndsWholeAndAnotherRunsOn) {
  for (const bool forceKill : {true, false}) {
    std::string sleeper, tree;
    const std::string name = forceKill ? "Killed" : "Left";
    auto task = NewTask(name, TreeWithSleeper(sleeper, &tree), forceKill);
    task->Run();
    const std::uint32_t child = WaitForStart(sleeper);
    ASSERT_NE(child, 0u);
    const std::size_t mark = Mark();
    ASSERT_EQ(SetStopEvent(), platform::kSuccess);
    ASSERT_TRUE(Finished(*task));
    task->RecordEndedRun();
    const std::string line = forceKill
                                 ? "Task 'Killed' was ended by the service stop after <t>."
                                 : "Task 'Left' is still running as the service stops and is left running.";
    EXPECT_EQ(Timeless(MessagesSince(mark)), std::vector<std::string>{line});
    EXPECT_EQ(StoredValue(name, "LastResult"), forceKill ? "ended at stop" : "<absent>");
    if (forceKill) {
      EXPECT_TRUE(Eventually([&] { return !testsupport::ProcessIdRuns(child); }));
    } else {
      // Left running: ended here, the child while its parent still holds its id.
      EXPECT_TRUE(testsupport::ProcessIdRuns(child));
      EXPECT_TRUE(testsupport::KillProcessId(child));
      EXPECT_TRUE(Eventually([&] { return !testsupport::ProcessIdRuns(child); }));
      EXPECT_TRUE(EndProcess(WaitForStart(tree)));
    }
    CloseStopEvent();
    ASSERT_EQ(CreateStopEvent(""), platform::kSuccess);
  }
}

// Monitoring hears of a change of result only: one warning for a task failing again and
// again, one information event when it succeeds again, nothing for an end at the stop.
TEST_F(RunEndTest, AResultThatTurnsToFailureOrBackIsOneEvent) {
  std::vector<std::string> events;
  context->setEventReporter([&](std::uint16_t type, std::uint32_t id,
                                const std::vector<std::string>& strings) {
    std::string event = std::to_string(type) + " " + std::to_string(id);
    for (const std::string& text : strings) event += " | " + text;
    events.push_back(event);
  });
  const std::string failing = CommandFor(NewProgram("exit3"));
  const std::string succeeding = CommandFor(NewProgram("quick"));
  const std::string warning = std::to_string(platform::kEventWarning) + " " +
                              std::to_string(0x80000010u) + " | Flaky | exit code 3";
  const std::string recovered =
      std::to_string(platform::kEventInformation) + " " + std::to_string(0x40000011u) + " | Flaky";
  const struct {
    std::string command;
    std::vector<std::string> events;  // all so far
  } runs[] = {
      {succeeding, {}},  {failing, {warning}},   {failing, {warning}},
      {failing, {warning}}, {succeeding, {warning, recovered}}, {succeeding, {warning, recovered}},
  };
  auto task = NewTask("Flaky", "");
  for (const auto& run : runs) {
    task->Command = run.command;
    task->Run();
    ASSERT_TRUE(Finished(*task));
    task->RecordEndedRun();
    EXPECT_EQ(events, run.events) << run.command;
  }
  // A result stored by an earlier run of the service counts as well.
  testsupport::PutString(kTaskKey + "Flaky", "LastResult", "signal 11 (SIGSEGV)");
  task->Run();
  ASSERT_TRUE(Finished(*task));
  task->RecordEndedRun();
  EXPECT_EQ(events.size(), 3u);
  EXPECT_EQ(events.back(), recovered);
}

}  // namespace
}  // namespace hvs::tasktest
