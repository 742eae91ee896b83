// Service status files: what a reader makes of a record whose process is gone or was replaced.
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/posix/scm/scm_internal.h"
#include "platform/posix/scm/service_status.h"
#include "tests/platform/posix/scm/service_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/child_role.h"
#include "tests/support/test_env.h"

extern char** environ;

namespace {

using platform::ServiceStatus;
using platform::posix::CurrentStatus;
using platform::posix::ProcessIdentity;
using platform::posix::StatusRecord;

StatusRecord RunningRecord(const ProcessIdentity& process) {
  StatusRecord record;
  record.process = process;
  record.status.currentState = platform::kServiceRunning;
  record.status.controlsAccepted = 3;
  record.status.waitHint = 1100;
  return record;
}

TEST(ServiceStatusFile, RecordOfALiveProcessReadsAsWritten) {
  testsupport::TempDirectory directory;
  ProcessIdentity self;
  ASSERT_TRUE(platform::posix::IdentifyProcess(::getpid(), self));
  const std::string path = directory / "s.status";
  ASSERT_EQ(platform::posix::WriteStatusRecord(path, RunningRecord(self)), 0u);
  ServiceStatus status;
  ASSERT_EQ(CurrentStatus(path, status), 0u);
  EXPECT_EQ(status.currentState, platform::kServiceRunning);
  EXPECT_EQ(status.controlsAccepted, 3u);
  EXPECT_EQ(status.waitHint, 1100u);
}

TEST(ServiceStatusFile, ProcessGoneOrReplacedReadsStoppedWith1067) {
  testsupport::TempDirectory directory;
  const std::string path = directory / "s.status";
  ProcessIdentity self;
  ASSERT_TRUE(platform::posix::IdentifyProcess(::getpid(), self));
  ServiceStatus status;

  // Same id, another start time: the id has passed to another process.
  ProcessIdentity reused = self;
  reused.startTime += 1;
  ASSERT_EQ(platform::posix::WriteStatusRecord(path, RunningRecord(reused)), 0u);
  ASSERT_EQ(CurrentStatus(path, status), 0u);
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
  EXPECT_EQ(status.win32ExitCode, 1067u);
  EXPECT_EQ(status.controlsAccepted, 0u);

  // Same id and start time, but counted from another boot: a record from before a reboot.
  ProcessIdentity earlierBoot = self;
  earlierBoot.bootId = "00000000-0000-0000-0000-000000000000";
  ASSERT_EQ(platform::posix::WriteStatusRecord(path, RunningRecord(earlierBoot)), 0u);
  ASSERT_EQ(CurrentStatus(path, status), 0u);
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
  EXPECT_EQ(status.win32ExitCode, 1067u);

  testsupport::WriteFile(path, "garbage\n");
  ASSERT_EQ(CurrentStatus(path, status), 0u);
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
  EXPECT_EQ(status.win32ExitCode, 1067u);
}

TEST(ServiceStatusFile, StoppedRecordKeepsItsExitCodesAndNoFileMeansNeverStarted) {
  testsupport::TempDirectory directory;
  const std::string path = directory / "s.status";
  ServiceStatus status;
  ASSERT_EQ(CurrentStatus(path, status), 0u);
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
  EXPECT_EQ(status.win32ExitCode, 1077u);

  StatusRecord stopped;
  stopped.process = ProcessIdentity{1, 1, {}};  // long gone, or never this one: no matter
  stopped.status.win32ExitCode = 1066;
  stopped.status.serviceSpecificExitCode = 42;
  ASSERT_EQ(platform::posix::WriteStatusRecord(path, stopped), 0u);
  ASSERT_EQ(CurrentStatus(path, status), 0u);
  EXPECT_EQ(status.win32ExitCode, 1066u);
  EXPECT_EQ(status.serviceSpecificExitCode, 42u);
}

// The main thread ends at once; a second thread keeps the process going until `path` exists.
const bool kMainThreadEndsFirst =
    testsupport::RegisterChildRole("main-thread-ends-first", [](const std::string& path) {
      std::thread([path] {
        while (!testsupport::FileExists(path))
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::_Exit(0);
      }).detach();
      ::syscall(SYS_exit, 0);  // this thread only, with nothing unwound or run at exit
      return 1;
    });

// Until its last thread ends, such a process still holds its descriptors: a service's
// control socket still takes connections then.
TEST(ServiceStatusFile, ProcessWhoseMainThreadEndedFirstRunsUntilItsLastThreadEnds) {
  testsupport::TempDirectory directory;
  const std::string release = directory / "release";
  testsupport::ChildProcess child;
  ASSERT_TRUE(child.Start(testsupport::SelfPath(), "main-thread-ends-first", release));
  // /proc shows the ended main thread's state for the process's.
  const int pid = static_cast<int>(child.id());
  ASSERT_TRUE(testsupport::Eventually([&] { return servicetest::ProcField(pid, 3) == "Z"; }));
  ProcessIdentity identity;
  EXPECT_TRUE(platform::posix::IdentifyProcess(pid, identity));

  testsupport::WriteFile(release, "");
  EXPECT_TRUE(testsupport::Eventually([&] {
    return !platform::posix::IdentifyProcess(pid, identity);
  }));
}

TEST(ServiceStatusFile, ZombieCountsAsEnded) {
  char program[] = "/bin/true";
  char* const argv[] = {program, nullptr};
  pid_t child = -1;
  ASSERT_EQ(::posix_spawn(&child, program, nullptr, nullptr, argv, environ), 0);
  // Not reaped yet: its id is still in use, but the process has ended.
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
  ProcessIdentity zombie;
  EXPECT_FALSE(platform::posix::IdentifyProcess(child, zombie));
  EXPECT_TRUE(testsupport::ProcessIdInUse(static_cast<std::uint32_t>(child)));
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
}

}  // namespace
