// The executable name taken from a command, and the look-up among the real processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"
#include "tasks/running_elsewhere.h"
#include "tests/support/child_process.h"
#include "tests/support/child_role.h"
#include "tests/support/test_env.h"

namespace hvs {
namespace {

using namespace std::chrono_literals;

const bool kIdle = testsupport::RegisterChildRole("idle", [](const std::string&) {
  std::this_thread::sleep_for(60s);
  return 0;
});

struct NameOf {
  const char* command;
  const char* name;
};

// `\` in a row stands for the platform's separator; the other target's separator is none.
std::string OnThisPlatform(std::string text, char separator = platform::PathSeparator()) {
  std::replace(text.begin(), text.end(), '\\', separator);
  return text;
}

TEST(ExecutableNameOf, TakesTheNameAfterTheLastSuitableSeparatorOrTheWholeCommand) {
  const NameOf table[] = {
      {R"(C:\Tools\sync.exe /all)", "sync.exe"},
      {R"("C:\Program Files\Jobs\run.bat" nightly)", "run.bat"},
      {R"(cscript.exe C:\jobs\clean.vbs)", "cscript.exe"},
      {R"(C:\bin\tool.exe C:\data\other.exe)", "other.exe"},
      {R"(\opt\jobs\sync.exe)", "sync.exe"},
      {R"(C:\bin\TOOL.EXE)", R"(C:\bin\TOOL.EXE)"},
      {R"(C:\bin\my-tool.exe /x)", R"(C:\bin\my-tool.exe /x)"},
      {"my-tool.exe", "my-tool.exe"},
  };
  for (const NameOf& row : table) {
    const std::string command = OnThisPlatform(row.command);
    EXPECT_EQ(ExecutableNameOf(command), OnThisPlatform(row.name)) << command;
  }
  const char other = platform::PathSeparator() == '/' ? '\\' : '/';
  const std::string foreign = OnThisPlatform(R"(\opt\jobs\sync.exe)", other);
  EXPECT_EQ(ExecutableNameOf(foreign), foreign);
}

std::string UpperCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// A hyphen in the name makes the expression fail, so the whole command is looked for, and
// found; a copy under a name of its own keeps this test's own process out of the count.
TEST(IsProcessRunning, FindsARunningProgramInAnyCaseUntilItEnds) {
  testsupport::TempDirectory dir;
  const std::string name = "hvs-probe-" + std::to_string(std::random_device{}()) + ".exe";
  ASSERT_EQ(ExecutableNameOf(name), name);
  EXPECT_FALSE(IsProcessRunning(name));

  ASSERT_TRUE(testsupport::CopySelfTo(dir / name));
  testsupport::ChildProcess probe;
  ASSERT_TRUE(probe.Start(dir / name, "idle", ""));
  EXPECT_TRUE(testsupport::Eventually([&] { return IsProcessRunning(ExecutableNameOf(name)); }));
  EXPECT_TRUE(IsProcessRunning(UpperCase(name)));

  ASSERT_TRUE(probe.Kill());
  EXPECT_TRUE(testsupport::Eventually([&] { return !IsProcessRunning(name); }));
}

// A name of the longest length is still looked for; the probe's path, or its name with one
// more character, can be no running executable's name.
TEST(IsProcessRunning, FindsANameOfTheLongestLengthButNeverAPathOrALongerName) {
  testsupport::TempDirectory dir;
  std::string name = "hvs-long-" + std::to_string(std::random_device{}()) + "-";
  name.resize(platform::kMaxExecutableNameLength - 4, 'x');
  name += ".exe";
  ASSERT_TRUE(testsupport::CopySelfTo(dir / name));
  testsupport::ChildProcess probe;
  ASSERT_TRUE(probe.Start(dir / name, "idle", ""));
  EXPECT_TRUE(testsupport::Eventually([&] { return IsProcessRunning(name); }));

  const std::string notNames[] = {dir / name, std::string(1, platform::PathSeparator()) + name,
                                  "/" + name, "x" + name};
  for (const std::string& text : notNames) EXPECT_FALSE(IsProcessRunning(text)) << text;
  ASSERT_TRUE(probe.Kill());
}

// What a task's start asks: its command, with the program's full path and arguments, is
// refused while that program runs and started again once it has ended, on both targets. The
// program is named as each system names one: Windows knows it by that name, Linux by its file.
TEST(IsRunningElsewhere, FindsATasksProgramByItsCommandUntilItEnds) {
  testsupport::TempDirectory dir;
  const std::string suffix = platform::PathSeparator() == '/' ? "" : ".exe";
  const std::string program = dir / ("hvsprobe" + std::to_string(std::random_device{}()) + suffix);
  const std::string command = testsupport::QuotedCommand(program) + " /all";
  ASSERT_TRUE(testsupport::CopySelfTo(program));
  EXPECT_FALSE(IsRunningElsewhere(command));

  testsupport::ChildProcess probe;
  ASSERT_TRUE(probe.Start(program, "idle", ""));
  EXPECT_TRUE(testsupport::Eventually([&] { return IsRunningElsewhere(command); }));
  ASSERT_TRUE(probe.Kill());
  EXPECT_TRUE(testsupport::Eventually([&] { return !IsRunningElsewhere(command); }));
}

TEST(IsProcessRunning, AMissingNameIsNotFound) {
  EXPECT_FALSE(IsProcessRunning("hvs-no-such-process-4711.exe"));
  EXPECT_FALSE(IsProcessRunning(""));
}

}  // namespace
}  // namespace hvs
