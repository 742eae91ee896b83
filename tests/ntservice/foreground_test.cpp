// The whole command line of a real process: ParseArguments, ExecuteVerb and the foreground run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ntservice/service_shell.h"
#include "platform/event.h"
#include "platform/process.h"
#include "tests/support/child_process.h"
#include "tests/support/child_role.h"
#include "tests/support/test_env.h"

namespace {

using ::testing::ElementsAre;

// The service program in miniature: it writes down what its main routine was given.
class ReportingShell : public hvs::CServiceShell {
 public:
  explicit ReportingShell(std::ofstream& out) : CServiceShell("HvsTestService", "HVS Test", ""), out_(out) {}

  void ServiceMainBody(std::uint32_t argc, char** argv) override {
    for (std::uint32_t i = 0; i < argc; ++i) out_ << "arg " << argv[i] << "\n";
    out_ << "terminated list " << (argv[argc] == nullptr ? "yes" : "no") << "\n";
    out_ << "foreground " << (foreground ? "yes" : "no") << "\n";
    out_ << "report sent " << (ReportState(4, kUnchanged, kUnchanged, kUnchanged) ? "yes" : "no") << "\n";
    for (std::uint32_t i = 1; i < argc; ++i)
      if (std::string(argv[i]) == "/quit") throw hvs::CServiceShellTerminateException(7, 9);
  }

 private:
  std::ofstream& out_;
};

// The program entry: parse this process's own arguments, carry out the verb, and note
// its result too, since a POSIX exit status keeps only eight bits of it.
const bool registered = testsupport::RegisterChildRole("service-program", [](const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  ReportingShell shell(out);
  hvs::CServiceShellCommandLineInfo info;
  shell.ParseArguments(info);
  const std::uint32_t exitCode = shell.ExecuteVerb(info);
  out << "exit " << exitCode << "\n";
  return static_cast<int>(exitCode & 0xFF);
});

// Runs this test executable as the service program with `switches` after its path and
// returns the lines it wrote.
std::vector<std::string> RunProgram(const std::string& switches) {
  testsupport::TempDirectory directory;
  const std::string output = directory / "program.txt";
  platform::Process process;
  {
    const testsupport::ChildRoleEnvironment role("service-program", output);
    const std::string command = testsupport::QuotedCommand(testsupport::SelfPath()) + switches;
    EXPECT_EQ(process.Create(command), 0u) << command;
  }
  platform::Event neverSet;
  EXPECT_EQ(neverSet.Create(""), 0u);
  EXPECT_EQ(process.WaitWith(neverSet), platform::Process::WaitResult::ProcessEnded);
  std::vector<std::string> lines;
  std::istringstream text(testsupport::ReadFile(output));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

TEST(ServiceProgram, ConsoleSilentPassesTheProgramPathAndSilentToTheMainRoutine) {
  EXPECT_THAT(RunProgram(" /console /silent"),
              ElementsAre("arg " + testsupport::SelfPath(), "arg /silent", "terminated list yes",
                          "foreground yes", "report sent no", "exit 0"));
}

TEST(ServiceProgram, TerminateExceptionInTheForegroundGivesItsExitCode) {
  EXPECT_THAT(RunProgram(" -APP /quit"),
              ElementsAre("arg " + testsupport::SelfPath(), "arg /quit", "terminated list yes",
                          "foreground yes", "report sent no", "exit 7"));
}

TEST(ServiceProgram, HelpRunsNothingAndExitsZero) {
  EXPECT_THAT(RunProgram(" /help"), ElementsAre("exit 0"));
}

TEST(ServiceProgram, WithoutVerbTheConsoleStartFailsWith1063) {
  EXPECT_THAT(RunProgram(" install"), ElementsAre("exit 1063"));
}

}  // namespace
