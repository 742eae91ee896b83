// Scene for the tests of tasks: a program directory, a clean registry key, a stop event of
// the test's own, a clock it sets, and child programs whose starts it can count.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "context/service_context.h"
#include "tasks/task.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_clock.h"
#include "tests/support/test_env.h"

namespace hvs::tasktest {

inline constexpr std::int64_t kTime = 1'700'000'000;  // the tests' "now", a Tuesday in 2023
// What a "flood" program writes: 100 MiB of numbered records.
inline constexpr std::uint32_t kFloodRecords = 10'485'760;
inline constexpr std::uint32_t kFloodRecordBytes = 10;

using testsupport::Eventually;

class TaskFixture : public ::testing::Test {
 protected:
  TaskFixture();
  ~TaskFixture() override;

  // A copy of the test executable in the program directory, named "<kind>_<ids>.exe" so
  // that no other process has its name. Started, it records its process id; a "sleep"
  // program then runs for half a minute, a "quick" one ends at once, an "exit3" one exits
  // with 3, a "crash" one ends as a crash does (testsupport::EndAsACrash), and a "tree"
  // one starts the command of its StartsWith file and sleeps; a "parent" one starts it, with
  // its own standard output and error, and ends. A "talk" program writes its Says text one
  // byte at a time, the first half to standard output, the rest to standard error, and exits
  // with 3 ("talk0": 0); a "flood" one writes kFloodRecords numbered records. Returns its
  // path.
  std::string NewProgram(const std::string& kind);
  // A "tree" or "parent" program at `path` starts `command` as its own child.
  void StartsWith(const std::string& path, const std::string& command) const;
  // A "talk" program at `path` writes `text`.
  void Says(const std::string& path, const std::string& text) const;
  // A path in the program directory where no program is.
  std::string MissingProgram();
  // `path` as a command line that starts it.
  static std::string CommandFor(const std::string& path, const std::string& arguments = "");

  // The ids of the program's starts so far, in order.
  std::vector<std::uint32_t> StartsOf(const std::string& path) const;
  // Waits for the program's `count`-th start and returns its process id; 0 on time-out.
  std::uint32_t WaitForStart(const std::string& path, std::size_t count = 1) const;
  // Kills a process that a task started and waits until it is gone.
  static bool EndProcess(std::uint32_t id);

  // A task as its file would have made it, loaded.
  std::unique_ptr<Task> NewTask(const std::string& name, const std::string& command,
                                bool forceKill = false, std::int32_t period = 60);
  // Waits until the task's watcher has let go of its process.
  static bool Finished(const Task& task);

  // Value `name` of the task's key below SOFTWARE\Sorvane\HVS as stored; "<absent>" when none.
  static std::string StoredValue(const std::string& task, const std::string& name);

  // The messages of HVS.Log in order, without their stamps.
  std::vector<std::string> LogMessages() const;
  // Messages logged from now on are those after this mark.
  std::size_t Mark() const { return LogMessages().size(); }
  std::vector<std::string> MessagesSince(std::size_t mark) const;
  // `messages` with the duration that ends a run's end line ("after 0.1 s.") as "after <t>.".
  static std::vector<std::string> Timeless(std::vector<std::string> messages);
  // The end line, made timeless, of a run whose process was ended as KillProcessId ends one.
  static std::string KilledLine(const std::string& escapedName);

  testsupport::TempDirectory program;
  testsupport::FakeClock clock{kTime};
  std::unique_ptr<ServiceContext> context;

 private:
  std::string startsDirectory_;
};

}  // namespace hvs::tasktest
