// The search for a command's program among the running processes on Linux, with real processes:
// copies of the test executable as programs, interpreters and script interpreters.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/manual_reset_event.h"
#include "platform/process.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

namespace {

using platform::ProgramSearch;
using testsupport::QuotedCommand;

// A command line started as the service starts a task's, playing a test role of
// process_test.cpp that idles for a minute; ended and reaped on every exit path.
class Started {
 public:
  explicit Started(const std::string& commandLine) {
    never_.Create("");
    const testsupport::ChildRoleEnvironment role("sleep-then-exit", "60000 0");
    created_ = process_.Create(commandLine);
  }
  ~Started() { End(); }
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;

  platform::Error created() const { return created_; }
  void End() {
    if (!process_.IsValid()) return;
    process_.Terminate(1);
    process_.WaitWith(never_);
    process_ = platform::Process();
  }

 private:
  platform::ManualResetEvent never_;
  platform::Process process_;
  platform::Error created_ = platform::kSuccess;
};

// PATH as given while it lives, so that a bare name is found in a test's directory.
class SearchPath {
 public:
  explicit SearchPath(const std::string& directory) {
    const char* old = std::getenv("PATH");
    old_ = old ? old : "";
    testsupport::SetEnv("PATH", directory + ":" + old_);
  }
  ~SearchPath() { testsupport::SetEnv("PATH", old_); }

 private:
  std::string old_;
};

void WriteScript(const std::string& path, const std::string& content, bool executable) {
  testsupport::WriteFile(path, content);
  ASSERT_EQ(::chmod(path.c_str(), executable ? 0755 : 0644), 0) << path;
}

struct Case {
  std::string command;
  ProgramSearch expected;
};

// The first case is the started program itself: a process that the system has only just
// started may not show its arguments yet, so that one is waited for.
void ExpectAll(const std::vector<Case>& cases) {
  EXPECT_TRUE(testsupport::Eventually([&] {
    return platform::FindRunningProgram(cases.front().command) == cases.front().expected;
  })) << cases.front().command;
  for (const Case& c : cases) EXPECT_EQ(platform::FindRunningProgram(c.command), c.expected) << c.command;
}

class RunningProgramTest : public ::testing::Test {
 protected:
  std::string Copy(const std::string& name) {
    const std::string path = dir / name;
    EXPECT_TRUE(testsupport::CopySelfTo(path)) << path;
    return path;
  }
  testsupport::TempDirectory dir;
};

// The same file, by path, by bare name and through a link, runs; a copy of it does not.
TEST_F(RunningProgramTest, AnExecutableIsKnownByItsFileNotByItsName) {
  const std::string probe = Copy("hvsprobe");
  const std::string copy = Copy("hvscopy");
  std::filesystem::create_symlink(probe, dir / "hvsalias");
  const SearchPath path(dir.path());
  EXPECT_EQ(platform::FindRunningProgram(QuotedCommand(probe)), ProgramSearch::kNotRunning);

  Started running(QuotedCommand(probe) + " --full");
  ASSERT_EQ(running.created(), platform::kSuccess);
  ExpectAll({
      {QuotedCommand(probe) + " --full", ProgramSearch::kRunning},
      {"hvsprobe", ProgramSearch::kRunning},
      {QuotedCommand(dir / "hvsalias"), ProgramSearch::kRunning},
      {QuotedCommand(copy), ProgramSearch::kNotRunning},
      {"hvscopy", ProgramSearch::kNotRunning},
      {QuotedCommand(dir / "missing"), ProgramSearch::kNotRunning},
  });
  running.End();
  EXPECT_EQ(platform::FindRunningProgram("hvsprobe"), ProgramSearch::kNotRunning);
}

// A program updated while it runs (a new file under the old path) still runs there.
TEST_F(RunningProgramTest, AnExecutableReplacedOnDiskStillRuns) {
  const std::string probe = Copy("hvsprobe");
  Started running(QuotedCommand(probe));
  ASSERT_EQ(running.created(), platform::kSuccess);
  ASSERT_EQ(::unlink(probe.c_str()), 0);
  Copy("hvsprobe");
  EXPECT_EQ(platform::FindRunningProgram(QuotedCommand(probe)), ProgramSearch::kRunning);
}

// The kernel runs a "#!" script's interpreter with the script's path among its arguments;
// another script of the same interpreter is another program.
TEST_F(RunningProgramTest, AScriptIsKnownByTheArgumentThatNamesIt) {
  const std::string interpreter = Copy("interp");
  WriteScript(dir / "job.sh", "#!" + interpreter + "\n", true);
  WriteScript(dir / "idle.sh", "#!" + interpreter + "\n", true);
  const SearchPath path(dir.path());
  EXPECT_EQ(platform::FindRunningProgram("job.sh"), ProgramSearch::kNotRunning);

  Started running(QuotedCommand(dir / "job.sh") + " nightly");
  ASSERT_EQ(running.created(), platform::kSuccess);
  ExpectAll({
      {QuotedCommand(dir / "job.sh") + " nightly", ProgramSearch::kRunning},
      {"job.sh", ProgramSearch::kRunning},
      {QuotedCommand(dir / "idle.sh"), ProgramSearch::kNotRunning},
  });
  running.End();
  EXPECT_EQ(platform::FindRunningProgram("job.sh"), ProgramSearch::kNotRunning);
}

// "python3 sync.py" runs sync.py: the file an interpreter is given is the program, however
// the interpreter is named; inline program text runs no file.
TEST_F(RunningProgramTest, AnInterpretersProgramIsTheFileItIsGiven) {
  const std::string python = Copy("python3");
  const std::string sync = dir / "sync.py";
  const std::string other = dir / "other.py";
  WriteScript(sync, "print('sync')\n", false);
  WriteScript(other, "print('other')\n", false);
  EXPECT_EQ(platform::FindRunningProgram("python3 " + sync), ProgramSearch::kNotRunning);

  Started running(QuotedCommand(python) + " -u " + sync);
  ASSERT_EQ(running.created(), platform::kSuccess);
  ExpectAll({
      {"python3 " + sync, ProgramSearch::kRunning},
      {"/usr/bin/python3 -B " + sync + " --all", ProgramSearch::kRunning},
      {"env python3 " + sync, ProgramSearch::kRunning},
      {"python3 " + other, ProgramSearch::kNotRunning},
      {"python3 -c \"import sys\" " + sync, ProgramSearch::kNotRunning},
      {"python3", ProgramSearch::kNotRunning},
  });
}

// A shell given -c runs no file: such a task is never refused because a shell, even the very
// same one, runs.
TEST_F(RunningProgramTest, AShellCommandIsNeverFoundRunning) {
  const std::string shell = Copy("sh");
  const std::string script = dir / "loop.sh";
  WriteScript(script, "while :; do :; done\n", false);
  Started running(QuotedCommand(shell) + " " + script);
  ASSERT_EQ(running.created(), platform::kSuccess);
  ExpectAll({
      {QuotedCommand(shell) + " " + script, ProgramSearch::kRunning},
      {QuotedCommand(shell) + " -c \"exit 0\"", ProgramSearch::kNotRunning},
      {"sh -c \"exit 0\"", ProgramSearch::kNotRunning},
      {"bash -lc true", ProgramSearch::kNotRunning},
      {"perl -e 1", ProgramSearch::kNotRunning},
      {QuotedCommand(shell), ProgramSearch::kNotRunning},
  });
}

}  // namespace
