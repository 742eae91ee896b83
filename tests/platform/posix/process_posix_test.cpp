// What a started program gets on POSIX: its arguments without a shell, the search beside
// the program and on PATH, no stray descriptors, default signals; the exec failures
// reported as errors; broken pipes that do not end this program; the process list.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/manual_reset_event.h"
#include "platform/posix/process_list.h"
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

// "<path>": the file the program was started from.
const bool kWriteExecutable =
    testsupport::RegisterChildRole("write-exe", [](const std::string& path) {
      std::ofstream(path) << std::filesystem::read_symlink("/proc/self/exe").string();
      return 0;
    });

// Starts `commandLine` in `role` and waits for its end; its exit code, or -1.
int RunToEnd(const std::string& commandLine, const std::string& role, const std::string& argument) {
  platform::ManualResetEvent never;
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

// A plug-in beside the program wins over one of the same name on PATH; the working
// directory is never searched, whatever PATH says about it.
TEST(PosixProcess, BareNameIsLookedForBesideTheProgramThenOnPathNeverInTheWorkingDirectory) {
  testsupport::TempDirectory onPath, working, out;
  const std::string name = "hvs-beside-probe-" + std::to_string(::getpid());
  const std::string besideSelf = std::filesystem::path(testsupport::SelfPath()).parent_path() / name;
  ASSERT_TRUE(testsupport::CopySelfTo(onPath / name));
  ASSERT_TRUE(testsupport::CopySelfTo(working / (name + "-cwd")));
  const int previous = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(previous, 0);
  ASSERT_EQ(::chdir(working.path().c_str()), 0);
  {
    const ScopedPath path(":.:" + onPath.path());
    EXPECT_EQ(RunToEnd(name, "write-exe", out / "exe"), 0);
    EXPECT_EQ(testsupport::ReadFile(out / "exe"), onPath / name);
    ASSERT_TRUE(testsupport::CopySelfTo(besideSelf));
    EXPECT_EQ(RunToEnd(name, "write-exe", out / "exe"), 0);
    EXPECT_EQ(testsupport::ReadFile(out / "exe"), besideSelf);
    Process child;
    EXPECT_EQ(child.Create(name + "-cwd"), platform::kFileNotFound);
  }
  std::filesystem::remove(besideSelf);
  EXPECT_EQ(::fchdir(previous), 0);
  ::close(previous);
}

// A console piped into a program that has quit gives EPIPE rather than ending us, while a
// started program still gets the default.
TEST(PosixProcess, IgnoredBrokenPipesFailTheWriteAndChildrenGetTheDefault) {
  struct sigaction previous {};
  ::sigaction(SIGPIPE, nullptr, &previous);
  platform::IgnoreBrokenPipes();
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  ::close(pipeEnds[0]);
  EXPECT_EQ(::write(pipeEnds[1], "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  ::close(pipeEnds[1]);
  EXPECT_EQ(RunToEnd(Self(), "check-signals", ""), 0);
  ::sigaction(SIGPIPE, &previous, nullptr);
}

// Kernel threads have no executable; counting them would leave real processes unseen on
// a busy machine. Interleaved, so that no directory order puts the processes first.
TEST(PosixProcessList, KernelThreadsDoNotCountTowardsTheLimitOfProcesses) {
  testsupport::TempDirectory proc;
  constexpr int kProcesses = 1030;
  for (int i = 0; i < kProcesses; ++i) {
    const std::string process = proc / std::to_string(i + 1);
    ASSERT_TRUE(std::filesystem::create_directory(process));
    std::filesystem::create_symlink("/opt/jobs/prog" + std::to_string(i), process + "/exe");
    if (i % 5 == 0) {
      ASSERT_TRUE(std::filesystem::create_directory(proc / std::to_string(5000 + i)));
    }
  }
  std::vector<std::string> seen;
  ASSERT_EQ(platform::posix::VisitExecutablesIn(proc.path(), [&](const std::string& name) {
              seen.push_back(name);
              return false;
            }),
            platform::kSuccess);
  EXPECT_EQ(seen.size(), 1024u);
  EXPECT_TRUE(seen.front().starts_with("prog"));
}

}  // namespace
