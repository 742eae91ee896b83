// "/run": one task run in the console with real processes, its lines, its exit code, nothing written.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>

#include "platform/files.h"
#include "service/admin_verbs.h"
#include "tests/support/child_process.h"
#include "tests/support/child_role.h"
#include "tests/support/registry_tree.h"
#include "tests/support/test_env.h"

namespace hvs {
namespace {

constexpr const char* kRole = "run-verb-task";

// A task's program: exits with the code of its argument; "sleep" runs for half a minute.
const bool kTaskProgram = testsupport::RegisterChildRole(kRole, [](const std::string& argument) {
  if (argument == "sleep") std::this_thread::sleep_for(std::chrono::seconds(30));
  return std::atoi(argument.c_str());
});

class RunVerbTest : public ::testing::Test {
 protected:
  RunVerbTest() {
    testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane");
    platform::CreateDirectory(program / "Config");
  }
  ~RunVerbTest() override { testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane"); }

  void WriteTask(const std::string& file, const std::string& name, const std::string& command,
                 const std::string& more = "") {
    testsupport::WriteFile(platform::JoinPath(program / "Config", file),
                           "<Task><Name>" + name + "</Name><Command>" + command + "</Command>" +
                               more + "</Task>");
  }
  // Runs `task` with the program playing `argument`; the output with each duration as <t>.
  int Run(const std::string& task, const std::string& argument = "0") {
    out.str("");
    err.str("");
    const testsupport::ChildRoleEnvironment role(kRole, argument);
    return RunTaskOnce(program.path(), task, out, err);
  }
  std::string Output() const {
    std::string text = out.str();
    for (std::size_t after = text.find(" after "); after != std::string::npos;
         after = text.find(" after ", after + 1)) {
      const std::size_t end = text.find(".\n", after);
      text.replace(after, end - after, " after <t>");
    }
    return text;
  }

  testsupport::TempDirectory program;
  std::ostringstream out;
  std::ostringstream err;
  // A copy of the test program under a name no other process has: on Windows the
  // running-elsewhere check looks for the ".exe" name of a command with a path too.
  const std::string copy =
      program / ("runtask_" + std::to_string(testsupport::CurrentProcessId()) + ".exe");
  const bool copied = testsupport::CopySelfTo(copy);
  const std::string self = testsupport::QuotedCommand(copy);
};

TEST_F(RunVerbTest, RunsTheTaskNamedByFileOrNameAndAnswersWithWhatBecameOfIt) {
  ASSERT_TRUE(copied);
  const std::string selfName = platform::ProgramPath().substr(
      platform::ProgramPath().rfind(platform::PathSeparator()) + 1);
  WriteTask("job.xml", "Job", self + " %DATABASEDSN%");
  WriteTask("hung.xml", "Hung", self, "<TimeLimitSeconds>1</TimeLimitSeconds>");
  WriteTask("busy.xml", "Busy", selfName);  // the test program runs: refused
  WriteTask("gone.xml", "Gone", "hvs-no-such-program-4711");
  const std::string started = "Task 'Job' run by command: " + self + " zav_svmeridel\n";
  const struct {
    std::string task, argument;
    int code;
    std::string output;
  } cases[] = {
      {"job.xml", "0", 0, started + "Task 'Job' finished with exit code 0 after <t>.\n"},
      {"job", "3", 3, started + "Task 'Job' finished with exit code 3 after <t>.\n"},
      {"Job", "0", 0, started + "Task 'Job' finished with exit code 0 after <t>.\n"},
      {"Hung", "sleep", kRunTimedOut,
       "Task 'Hung' run by command: " + self +
           "\nTask 'Hung' exceeded its time limit of 1.0 s and was ended after <t>.\n"},
      {"Busy", "0", kRunRefused, "Task 'Busy' is already running outside of this service.\n"},
      {"Gone", "0", static_cast<int>(platform::kFileNotFound),
       "Task 'Gone' run by command: hvs-no-such-program-4711\nTask 'Gone' could not be started: "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.task, c.argument), c.code) << c.task;
    EXPECT_EQ(Output().substr(0, c.output.size()), c.output) << c.task;
    EXPECT_EQ(err.str(), "") << c.task;
  }
  // Nothing written: no log, no registry key of the task or of the program.
  EXPECT_FALSE(testsupport::FileExists(program / "Logs"));
  EXPECT_FALSE(testsupport::KeyExists("SOFTWARE\\Sorvane\\HVS"));
}

TEST_F(RunVerbTest, ATaskThatIsNotThereOrDoesNotLoadIsTheVerbsOwnFailure) {
  testsupport::WriteFile(platform::JoinPath(program / "Config", "broken.xml"),
                         "<Task><Name>Broken</Name>");
  EXPECT_EQ(Run("nothing"), kRunNoSuchTask);
  EXPECT_EQ(err.str(), "No task file or task named 'nothing' in " + program / "Config" + ".\n");
  EXPECT_EQ(Run("broken"), kValidateFailed);
  EXPECT_EQ(err.str().find("Couldn't parse "), 0u) << err.str();
  EXPECT_EQ(out.str(), "");
  std::ostringstream none;
  EXPECT_EQ(RunAdminCommand(ParseAdminCommand({"ZAVPluginService", "/run"}), program.path(), none,
                            err),
            kRunUsage);
}

}  // namespace
}  // namespace hvs
