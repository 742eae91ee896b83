// What a started program gets on POSIX: its arguments without a shell, the PATH search,
// no stray descriptors, default signals; and the exec failures reported as errors.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/event.h"
#include "platform/process.h"
#include "tests/support/child_process.h"
#include "tests/support/child_role.h"
#include "tests/support/test_env.h"

namespace {

using platform::Process;

// "<path>": the descriptors the program was started with, one line each.
const bool kListDescriptors =
    testsupport::RegisterChildRole("list-fds", [](const std::string& path) {
      std::string listed;
      DIR* fds = ::opendir("/proc/self/fd");
      if (fds == nullptr) return 1;
      while (const dirent* entry = ::readdir(fds))
        if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != ::dirfd(fds))
          listed += std::string(entry->d_name) + "\n";
      ::closedir(fds);
      std::ofstream(path) << listed;
      return 0;
    });

// "<path>": the program's own argument vector, NUL-separated as the kernel keeps it.
const bool kWriteArguments =
    testsupport::RegisterChildRole("write-arguments", [](const std::string& path) {
      std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
      std::ofstream(path, std::ios::binary) << cmdline.rdbuf();
      return 0;
    });

const bool kCheckSignals = testsupport::RegisterChildRole("check-signals", [](const std::string&) {
  sigset_t blocked;
  ::sigprocmask(SIG_SETMASK, nullptr, &blocked);
  struct sigaction pipe {};
  ::sigaction(SIGPIPE, nullptr, &pipe);
  return ::sigismember(&blocked, SIGTERM) == 0 && pipe.sa_handler == SIG_DFL ? 0 : 1;
});

// Starts `commandLine` in `role` and waits for its end; its exit code, or -1.
int RunToEnd(const std::string& commandLine, const std::string& role, const std::string& argument) {
  platform::Event never;
  EXPECT_EQ(never.Create(""), platform::kSuccess);
  Process child;
  {
    const testsupport::ChildRoleEnvironment environment(role, argument);
    const platform::Error created = child.Create(commandLine);
    EXPECT_EQ(created, platform::kSuccess) << commandLine;
    if (created != platform::kSuccess) return -1;
  }
  platform::ExitStatus status;
  if (child.WaitWith(never) != Process::WaitResult::ProcessEnded || !child.GetExitStatus(status))
    return -1;
  return status.signal == 0 ? static_cast<int>(status.code) : -1;
}

std::string Self() { return testsupport::QuotedCommand(testsupport::SelfPath()); }

class ScopedPath {
 public:
  explicit ScopedPath(const std::string& path) {
    const char* saved = std::getenv("PATH");
    hadPath_ = saved != nullptr;
    if (hadPath_) saved_ = saved;
    testsupport::SetEnv("PATH", path);
  }
  ~ScopedPath() {
    if (hadPath_) testsupport::SetEnv("PATH", saved_);
    else testsupport::UnsetEnv("PATH");
  }

 private:
  bool hadPath_ = false;
  std::string saved_;
};

TEST(PosixProcess, ProgramGetsTheSplitArgumentsAndNoShellSeesThem) {
  testsupport::TempDirectory dir;
  ASSERT_EQ(RunToEnd(Self() + R"( "a b" c\"d $(touch )" + dir.path() + "/x) ; |", "write-arguments",
                dir / "args"),
            0);
  const std::string expected = testsupport::SelfPath() + '\0' + "a b" + '\0' + "c\"d" + '\0' +
                               "$(touch" + '\0' + dir.path() + "/x)" + '\0' + ";" + '\0' + "|" +
                               '\0';
  EXPECT_EQ(testsupport::ReadFile(dir / "args"), expected);
  EXPECT_FALSE(testsupport::FileExists(dir / "x"));
}

TEST(PosixProcess, ChildInheritsNoDescriptorBeyondTheStandardThree) {
  testsupport::TempDirectory dir;
  const int plain = ::open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(plain, 3);
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  EXPECT_EQ(RunToEnd(Self(), "list-fds", dir / "fds"), 0);
  ::close(plain);
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  EXPECT_EQ(testsupport::ReadFile(dir / "fds"), "0\n1\n2\n");
}

TEST(PosixProcess, SignalsBlockedOrIgnoredHereAreDefaultInTheChild) {
  sigset_t terminate, previousMask;
  ::sigemptyset(&terminate);
  ::sigaddset(&terminate, SIGTERM);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &terminate, &previousMask), 0);
  struct sigaction ignore {}, previousPipe {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previousPipe);

  EXPECT_EQ(RunToEnd(Self(), "check-signals", ""), 0);

  ::sigaction(SIGPIPE, &previousPipe, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

// As execvp: a file that may not be run is passed over for a later one, and reported
// only when no other is found.
TEST(PosixProcess, ProgramIsFoundOnPathPassingOverFilesThatMayNotRun) {
  testsupport::TempDirectory denied, runnable;
  testsupport::WriteFile(denied / "hvs-path-probe", "not runnable");
  ASSERT_TRUE(testsupport::CopySelfTo(runnable / "hvs-path-probe"));
  {
    const ScopedPath path(denied.path() + ":" + runnable.path());
    EXPECT_EQ(RunToEnd("hvs-path-probe", "sleep-then-exit", "0 5"), 5);
  }
  const ScopedPath path(denied.path());
  Process child;
  EXPECT_EQ(child.Create("hvs-path-probe"), platform::kAccessDenied);
  EXPECT_FALSE(child.IsValid());
}

// execvp would hand such a file to the shell; we start no shell.
TEST(PosixProcess, ExecutableFileThatIsNoProgramFailsWithBadFormat) {
  testsupport::TempDirectory dir;
  testsupport::WriteFile(dir / "script", "touch " + dir.path() + "/ran\n");
  ASSERT_EQ(::chmod((dir / "script").c_str(), 0755), 0);
  Process child;
  EXPECT_EQ(child.Create(dir / "script"), platform::kBadExeFormat);
  EXPECT_FALSE(testsupport::FileExists(dir / "ran"));
}

}  // namespace
