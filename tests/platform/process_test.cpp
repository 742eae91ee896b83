// Starting, waiting on and terminating processes, with the test executable as the child.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/manual_reset_event.h"
#include "platform/process.h"
#include "tests/support/child_process.h"
#include "tests/support/child_role.h"
#include "tests/support/test_env.h"

namespace {

using platform::Process;
using WaitResult = platform::Process::WaitResult;
using namespace std::chrono_literals;

// "<milliseconds> <exit code>"; the POSIX tests of this executable use it too.
const bool kSleepThenExit =
    testsupport::RegisterChildRole("sleep-then-exit", [](const std::string& argument) {
      int milliseconds = 0, code = 0;
      std::istringstream(argument) >> milliseconds >> code;
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      return code;
    });

// "<path>": writes the file a while after the start, when its parent has let it go.
const bool kWriteLater = testsupport::RegisterChildRole("write-later", [](const std::string& path) {
  std::this_thread::sleep_for(300ms);
  std::ofstream(path) << "alive";
  return 0;
});

platform::Error StartSelf(Process& process, const std::string& role, const std::string& argument,
                          Process::Group group = Process::Group::kShared) {
  const testsupport::ChildRoleEnvironment environment(role, argument);
  return process.Create(testsupport::QuotedCommand(testsupport::SelfPath()) + " unused-argument",
                        group);
}

// "<path>": starts a sleeping child of its own, writes that grandchild's id to the file and
// sleeps too, as a plug-in started through a shell would.
const bool kStartGrandchild =
    testsupport::RegisterChildRole("start-grandchild", [](const std::string& path) {
      Process grandchild;
      if (StartSelf(grandchild, "sleep-then-exit", "60000 0") != platform::kSuccess) return 1;
      std::ofstream(path + ".part") << grandchild.Id();
      std::filesystem::rename(path + ".part", path);
      std::this_thread::sleep_for(60s);
      return 0;
    });

platform::ManualResetEvent NewEvent() {
  platform::ManualResetEvent event;
  EXPECT_EQ(event.Create(""), platform::kSuccess);
  return event;
}

// Also shows the event is created not set: the wait lasts until the child's end.
TEST(Process, WaitSeesAChildThatExitsByItselfWithItsExitCode) {
  platform::ManualResetEvent stop = NewEvent();
  Process child;
  ASSERT_EQ(StartSelf(child, "sleep-then-exit", "200 7"), platform::kSuccess);
  EXPECT_NE(child.Id(), 0u);
  platform::ExitStatus status;
  EXPECT_FALSE(child.GetExitStatus(status));

  EXPECT_EQ(child.WaitWith(stop), WaitResult::ProcessEnded);
  ASSERT_TRUE(child.GetExitStatus(status));
  EXPECT_EQ(status.code, 7u);
  EXPECT_EQ(status.signal, 0);
  EXPECT_EQ(child.WaitWith(stop), WaitResult::ProcessEnded);
}

TEST(Process, EventSetDuringTheWaitEndsItAndStaysSetButAnEndedChildCountsFirst) {
  platform::ManualResetEvent stop = NewEvent();
  Process child;
  ASSERT_EQ(StartSelf(child, "sleep-then-exit", "60000 0"), platform::kSuccess);
  std::thread setter([&] {
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(stop.Set(), platform::kSuccess);
  });
  EXPECT_EQ(child.WaitWith(stop), WaitResult::EventSet);
  setter.join();
  EXPECT_EQ(child.WaitWith(stop), WaitResult::EventSet);

  // With the event set for good, only a process that counts first can ever end a wait.
  ASSERT_EQ(child.Terminate(1), platform::kSuccess);
  EXPECT_TRUE(
      testsupport::Eventually([&] { return child.WaitWith(stop) == WaitResult::ProcessEnded; }));
}

TEST(Process, TerminatedChildEndsAsThePlatformRecordsATermination) {
  platform::ManualResetEvent stop = NewEvent();
  Process child;
  ASSERT_EQ(StartSelf(child, "sleep-then-exit", "60000 0"), platform::kSuccess);
  ASSERT_EQ(child.Terminate(1), platform::kSuccess);
  EXPECT_EQ(child.WaitWith(stop), WaitResult::ProcessEnded);
  platform::ExitStatus status;
  ASSERT_TRUE(child.GetExitStatus(status));
  const platform::ExitStatus expected = testsupport::TerminatedExitStatus();
  EXPECT_EQ(status.code, expected.code);
  EXPECT_EQ(status.signal, expected.signal);
}

TEST(Process, AWaitWithATimeLimitEndsWhenItPassesAndTheProcessRunsOn) {
  platform::ManualResetEvent stop = NewEvent();
  Process child;
  ASSERT_EQ(StartSelf(child, "sleep-then-exit", "60000 0"), platform::kSuccess);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(child.WaitWith(stop, 200), WaitResult::TimedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - before, 190ms);
  EXPECT_TRUE(testsupport::ProcessIdInUse(child.Id()));
  ASSERT_EQ(child.Terminate(1), platform::kSuccess);
  EXPECT_EQ(child.WaitWith(stop, 60000), WaitResult::ProcessEnded);
}

// Only a process in a group of its own takes what it started with it when it is ended.
TEST(Process, TerminateEndsTheGroupOfAProcessCreatedWithOne) {
  for (const Process::Group group : {Process::Group::kOwn, Process::Group::kShared}) {
    testsupport::TempDirectory dir;
    platform::ManualResetEvent stop = NewEvent();
    Process child;
    ASSERT_EQ(StartSelf(child, "start-grandchild", dir / "grandchild", group), platform::kSuccess);
    ASSERT_TRUE(testsupport::Eventually([&] { return testsupport::FileExists(dir / "grandchild"); }));
    std::uint32_t grandchild = 0;
    std::istringstream(testsupport::ReadFile(dir / "grandchild")) >> grandchild;
    ASSERT_NE(grandchild, 0u);

    ASSERT_EQ(child.Terminate(1), platform::kSuccess);
    EXPECT_EQ(child.WaitWith(stop), WaitResult::ProcessEnded);
    const bool own = group == Process::Group::kOwn;
    if (own) {
      EXPECT_TRUE(testsupport::Eventually([&] { return !testsupport::ProcessIdRuns(grandchild); }));
    } else {
      EXPECT_TRUE(testsupport::ProcessIdRuns(grandchild));
      // Not ours to reap, and no longer a child of anyone we know: ended by its id, once.
      testsupport::KillProcessId(grandchild);
      EXPECT_TRUE(testsupport::Eventually([&] { return !testsupport::ProcessIdRuns(grandchild); }));
    }
  }
}

TEST(Process, MissingProgramFailsAtCreateWithFileNotFound) {
  Process child;
  EXPECT_EQ(child.Create("hvs-no-such-program-4711 /x"), platform::kFileNotFound);
  EXPECT_FALSE(child.IsValid());
}

// The "no handle" value is the current process's own pseudo-handle on Windows.
TEST(Process, AnEmptyProcessOrEventNeverActsOnTheCurrentProcess) {
  Process none;
  platform::ManualResetEvent stop = NewEvent();
  EXPECT_EQ(none.WaitWith(stop), WaitResult::Failed);
  EXPECT_EQ(none.Terminate(1), platform::kInvalidHandle);
  platform::ManualResetEvent unopened;
  EXPECT_EQ(unopened.Set(), platform::kInvalidHandle);

  Process child;
  ASSERT_EQ(StartSelf(child, "sleep-then-exit", "0 0"), platform::kSuccess);
  EXPECT_EQ(child.WaitWith(unopened), WaitResult::Failed);
  EXPECT_EQ(child.WaitWith(stop), WaitResult::ProcessEnded);
}

// On POSIX a let-go child is still ours: once it ends it must not stay a zombie.
TEST(Process, ALetGoChildRunsOnAndLeavesNothingBehindWhenItEnds) {
  testsupport::TempDirectory dir;
  std::uint32_t id = 0;
  {
    Process child;
    ASSERT_EQ(StartSelf(child, "write-later", dir / "alive"), platform::kSuccess);
    id = child.Id();
  }
  EXPECT_TRUE(testsupport::Eventually([&] { return testsupport::FileExists(dir / "alive"); }));
  EXPECT_TRUE(testsupport::Eventually([&] { return !testsupport::ProcessIdInUse(id); }));
}

}  // namespace
