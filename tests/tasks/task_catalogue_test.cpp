// The catalogue over a real Config directory: what its reloads load, keep and remove, and
// the order and the test at stop of its offers.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/clock.h"
#include "tasks/stop_event.h"
#include "tasks/task_catalogue.h"
#include "tests/support/child_process.h"
#include "tests/tasks/task_fixture.h"

namespace hvs::tasktest {
namespace {

using Messages = std::vector<std::string>;

const platform::FileTime kWritten = platform::SecondsToFileTime(kTime - 3600);

std::string TaskFile(const std::string& name, const std::string& command, bool forceKill = false,
                     int period = 60) {
  return "<?xml version=\"1.0\"?>\n<Task>\n  <Name>" + name + "</Name>\n  <Command>" + command +
         "</Command>\n  <ForceKill>" + (forceKill ? "true" : "false") +
         "</ForceKill>\n  <Schedule><WaitPeriodSeconds>" + std::to_string(period) +
         "</WaitPeriodSeconds></Schedule>\n</Task>\n";
}

class TaskCatalogueTest : public TaskFixture {
 protected:
  std::string ConfigFile(const std::string& name) const {
    return platform::JoinPath(context->ConfigDirectory(), name);
  }
  void WriteTask(const std::string& name, const std::string& content,
                 platform::FileTime written = kWritten) {
    testsupport::WriteFile(ConfigFile(name), content);
    ASSERT_TRUE(testsupport::SetLastWriteTime(ConfigFile(name), written));
  }
  static Messages Keys(const TaskCatalogue& catalogue) {
    Messages keys;
    for (const auto& [key, task] : catalogue.tasks()) keys.push_back(key);
    return keys;
  }
  // The catalogue's own messages since `mark`, without those of the loads themselves.
  Messages CatalogueMessages(std::size_t mark) const {
    Messages own;
    for (const std::string& message : MessagesSince(mark))
      if (message.starts_with("Loading task configuration file: ") ||
          message.starts_with("Loaded task: ") ||
          message.starts_with("Task configuration file '") || message == "Removing Task")
        own.push_back(message);
    return own;
  }
  // The run lines since `mark`: the watchers' own lines about commands that cannot be
  // started come from their threads, at no fixed place among them.
  Messages RunMessages(std::size_t mark) const {
    Messages runs;
    for (const std::string& message : MessagesSince(mark))
      if (message.find("' could not be started: ") == std::string::npos) runs.push_back(message);
    return runs;
  }
  Messages ReloadMessages(TaskCatalogue& catalogue) {
    const std::size_t mark = Mark();
    catalogue.Reload();
    return CatalogueMessages(mark);
  }
  std::uint32_t OfferAndWaitForStart(TaskCatalogue& catalogue, std::int64_t now,
                                     const std::string& started) {
    clock.Set(now);
    catalogue.RunDueTasks(now);
    return WaitForStart(started);
  }
};

// A first load leaves LastRun at 0, so both are due at the first offer.
TEST_F(TaskCatalogueTest, TasksAreKeyedByFileNameInByteOrderAndStartedInThatOrder) {
  const std::string command = CommandFor(MissingProgram());
  WriteTask("a.xml", TaskFile("lower", command));
  WriteTask("B.xml", TaskFile("Upper", command));
  TaskCatalogue catalogue(*context);
  const Messages loaded = ReloadMessages(catalogue);
  EXPECT_EQ(loaded.size(), 4u);
  for (const char* line : {"Loading task configuration file: a.xml", "Loaded task: lower",
                           "Loading task configuration file: B.xml", "Loaded task: Upper"})
    EXPECT_NE(std::find(loaded.begin(), loaded.end(), line), loaded.end()) << line;
  EXPECT_EQ(Keys(catalogue), (Messages{"B.xml", "a.xml"}));

  const std::size_t mark = Mark();
  catalogue.RunDueTasks(kTime);
  EXPECT_EQ(RunMessages(mark), (Messages{"Task 'Upper' run by command: " + command,
                                         "Task 'lower' run by command: " + command}));
  for (const auto& [key, task] : catalogue.tasks()) EXPECT_EQ(task->LastRun, kTime) << key;
}

TEST_F(TaskCatalogueTest, ARecordedLastRunDelaysTheStartUntilThePeriodAfterItHasPassed) {
  context->settings().SetTaskValue("Future", "LastRun", std::to_string(kTime + 1000));
  WriteTask("future.xml", TaskFile("Future", CommandFor(MissingProgram()), false, 60));
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  const std::size_t mark = Mark();
  for (const std::int64_t now : {kTime, kTime + 1000, kTime + 1060}) catalogue.RunDueTasks(now);
  EXPECT_TRUE(MessagesSince(mark).empty());
  catalogue.RunDueTasks(kTime + 1061);
  EXPECT_EQ(RunMessages(mark).size(), 1u);
}

// The touched file's task is loaded again in place: same task, same watcher, same process.
TEST_F(TaskCatalogueTest, OnlyALaterFileTimeReloadsAndItLeavesTheRunningProcessAlone) {
  const std::string sleeper = NewProgram("sleep");
  WriteTask("job.xml", TaskFile("Job", CommandFor(sleeper)));
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  const Task* const task = catalogue.tasks().at("job.xml").get();
  const std::uint32_t id = OfferAndWaitForStart(catalogue, kTime, sleeper);
  ASSERT_NE(id, 0u);

  context->settings().SetTaskValue("Job", "LastRun", "1234");
  EXPECT_TRUE(ReloadMessages(catalogue).empty());
  ASSERT_TRUE(testsupport::SetLastWriteTime(ConfigFile("job.xml"), kWritten - 10'000'000));
  EXPECT_TRUE(ReloadMessages(catalogue).empty());
  EXPECT_EQ(task->LastRun, kTime);

  ASSERT_TRUE(testsupport::SetLastWriteTime(ConfigFile("job.xml"), kWritten + 10'000'000));
  EXPECT_EQ(ReloadMessages(catalogue),
            (Messages{"Loading task configuration file: job.xml", "Loaded task: Job"}));
  ASSERT_EQ(catalogue.tasks().at("job.xml").get(), task);
  EXPECT_EQ(task->LastRun, 1234);
  EXPECT_TRUE(task->watcher.IsRunning());
  EXPECT_TRUE(testsupport::ProcessIdInUse(id));
  EXPECT_EQ(StartsOf(sleeper).size(), 1u);
  EXPECT_TRUE(EndProcess(id));
  EXPECT_TRUE(Finished(*task));
}

// Its task is made anew at each reload, so the repair loads whatever its file time.
TEST_F(TaskCatalogueTest, ABrokenFileLogsThreeLinesAtEveryReloadAndLoadsOnceRepaired) {
  WriteTask("bad.xml", "<Task><Name>Bad</Name><Command>cut off");
  TaskCatalogue catalogue(*context);
  const Messages failed{"Loading task configuration file: bad.xml",
                        "Task configuration file 'bad.xml' could not load.", "Removing Task"};
  EXPECT_EQ(ReloadMessages(catalogue), failed);
  EXPECT_TRUE(catalogue.tasks().empty());
  EXPECT_EQ(ReloadMessages(catalogue), failed);

  WriteTask("bad.xml", TaskFile("Repaired", "x"));
  EXPECT_EQ(ReloadMessages(catalogue),
            (Messages{"Loading task configuration file: bad.xml", "Loaded task: Repaired"}));
  EXPECT_EQ(Keys(catalogue), Messages{"bad.xml"});
}

TEST_F(TaskCatalogueTest, ADirectoryNamedLikeATaskFileIsTriedAtEveryReloadAndRemoved) {
  ASSERT_EQ(platform::CreateDirectory(ConfigFile("sub.xml")), platform::kSuccess);
  TaskCatalogue catalogue(*context);
  const Messages failed{"Loading task configuration file: sub.xml",
                        "Task configuration file 'sub.xml' could not load.", "Removing Task"};
  EXPECT_EQ(ReloadMessages(catalogue), failed);
  EXPECT_EQ(ReloadMessages(catalogue), failed);
  EXPECT_TRUE(catalogue.tasks().empty());
}

TEST_F(TaskCatalogueTest, AVanishedFileRemovesItsTaskAndAMissingConfigRemovesThemAll) {
  WriteTask("one.xml", TaskFile("One", "x"));
  WriteTask("two.xml", TaskFile("Two", "x"));
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  ASSERT_EQ(Keys(catalogue), (Messages{"one.xml", "two.xml"}));

  ASSERT_EQ(platform::RemoveFile(ConfigFile("one.xml")), platform::kSuccess);
  EXPECT_EQ(ReloadMessages(catalogue), Messages{"Removing Task"});
  EXPECT_EQ(Keys(catalogue), Messages{"two.xml"});

  WriteTask("three.xml", TaskFile("Three", "x"));
  catalogue.Reload();
  testsupport::RemoveTree(context->ConfigDirectory());
  EXPECT_EQ(ReloadMessages(catalogue), (Messages{"Removing Task", "Removing Task"}));
  EXPECT_TRUE(catalogue.tasks().empty());
}

TEST_F(TaskCatalogueTest, ATaskRemovedWhileItsProcessRunsLeavesTheProcessRunning) {
  const std::string sleeper = NewProgram("sleep");
  WriteTask("job.xml", TaskFile("Job", CommandFor(sleeper), true));
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  const std::uint32_t id = OfferAndWaitForStart(catalogue, kTime, sleeper);
  ASSERT_NE(id, 0u);

  ASSERT_EQ(platform::RemoveFile(ConfigFile("job.xml")), platform::kSuccess);
  EXPECT_EQ(ReloadMessages(catalogue), Messages{"Removing Task"});
  EXPECT_TRUE(catalogue.AllFinished());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(testsupport::ProcessIdInUse(id));
  EXPECT_TRUE(EndProcess(id));
}

TEST_F(TaskCatalogueTest, AllFinishedOnlyOnceNoWatcherRunsAnyMore) {
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  catalogue.RunDueTasks(kTime);
  EXPECT_TRUE(catalogue.AllFinished());
  EXPECT_TRUE(LogMessages().empty());

  const std::string quick = NewProgram("quick");
  const std::string sleeper = NewProgram("sleep");
  WriteTask("a.xml", TaskFile("Quick", CommandFor(quick)));
  WriteTask("b.xml", TaskFile("Sleeper", CommandFor(sleeper), true));
  catalogue.Reload();
  const std::uint32_t id = OfferAndWaitForStart(catalogue, kTime, sleeper);
  ASSERT_NE(id, 0u);
  EXPECT_FALSE(catalogue.AllFinished());
  ASSERT_TRUE(Finished(*catalogue.tasks().at("a.xml")));
  EXPECT_FALSE(catalogue.AllFinished());

  ASSERT_EQ(SetStopEvent(), platform::kSuccess);
  EXPECT_TRUE(Eventually([&] { return catalogue.AllFinished(); }));
  EXPECT_TRUE(Eventually([&] { return !testsupport::ProcessIdInUse(id); }));
}

// Offers that find no task due cost one comparison; this shows they still miss no start,
// after runs and after a reload that brings a task's time forward.
TEST_F(TaskCatalogueTest, EveryTaskStartsAtTheFirstTickPastItsPeriodTickAfterTick) {
  const std::string command = CommandFor(MissingProgram());
  WriteTask("a.xml", TaskFile("Ten", command, false, 10));
  WriteTask("b.xml", TaskFile("TwentyFive", command, false, 25));
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  std::vector<std::pair<std::int64_t, std::string>> runs;
  const auto tick = [&](std::int64_t now) {
    const std::size_t mark = Mark();
    clock.Set(now);
    catalogue.RunDueTasks(now);
    ASSERT_TRUE(Eventually([&] { return catalogue.AllFinished(); }));
    for (const std::string& message : MessagesSince(mark)) {
      const std::size_t run = message.find(" run by command");
      if (run != std::string::npos) runs.emplace_back(now - kTime, message.substr(0, run));
    }
  };
  for (std::int64_t now = kTime; now <= kTime + 30; ++now) tick(now);
  using Runs = decltype(runs);
  EXPECT_EQ(runs, (Runs{{0, "Task 'Ten'"}, {0, "Task 'TwentyFive'"}, {11, "Task 'Ten'"},
                        {22, "Task 'Ten'"}, {26, "Task 'TwentyFive'"}}));

  runs.clear();
  context->settings().SetTaskValue("TwentyFive", "LastRun", std::to_string(kTime - 100));
  ASSERT_TRUE(testsupport::SetLastWriteTime(ConfigFile("b.xml"), kWritten + 10'000'000));
  catalogue.Reload();
  for (std::int64_t now = kTime + 31; now <= kTime + 34; ++now) tick(now);
  EXPECT_EQ(runs, (Runs{{31, "Task 'TwentyFive'"}, {33, "Task 'Ten'"}}));
}

// The output of a task file that is gone goes after 14 days, as an old log does, at the
// first reload and then once a day; the outputs of task files still there stay.
TEST_F(TaskCatalogueTest, OldOutputFilesOfTaskFilesThatAreGoneAreRemovedOnceADay) {
  const std::string outputs = platform::JoinPath(context->LogsDirectory(), "Output");
  platform::CreateDirectory(context->LogsDirectory());
  platform::CreateDirectory(outputs);
  WriteTask("Kept.xml", "<Task><Name>Kept</Name><Command>x.exe</Command></Task>");
  const std::int64_t fifteenDaysAgo = kTime - 15 * 24 * 60 * 60;
  const struct {
    const char* name;
    std::int64_t written;
    bool stays;
  } files[] = {
      {"Gone.log", fifteenDaysAgo, false},
      {"Recent.log", kTime - 13 * 24 * 60 * 60, true},
      {"kept.log", fifteenDaysAgo, true},  // Kept.xml's, in another case
      {"Other.txt", fifteenDaysAgo, true},
  };
  const auto put = [&](const char* name, std::int64_t written) {
    testsupport::WriteFile(platform::JoinPath(outputs, name), "x");
    ASSERT_TRUE(testsupport::SetLastWriteTime(platform::JoinPath(outputs, name),
                                              platform::SecondsToFileTime(written)));
  };
  for (const auto& file : files) put(file.name, file.written);
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  for (const auto& file : files)
    EXPECT_EQ(testsupport::FileExists(platform::JoinPath(outputs, file.name)), file.stays)
        << file.name;

  put("Late.log", fifteenDaysAgo);
  clock.Set(kTime + 23 * 60 * 60);
  catalogue.Reload();
  EXPECT_TRUE(testsupport::FileExists(platform::JoinPath(outputs, "Late.log"))) << "within the day";
  clock.Set(kTime + 24 * 60 * 60);
  catalogue.Reload();
  EXPECT_FALSE(testsupport::FileExists(platform::JoinPath(outputs, "Late.log"))) << "a day later";
}

}  // namespace
}  // namespace hvs::tasktest
