// The whole command line of a real process: ParseArguments, ExecuteVerb, the foreground run
// and the console events that end it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ntservice/service_shell.h"
#include "platform/manual_reset_event.h"
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
  platform::ManualResetEvent neverSet;
  EXPECT_EQ(neverSet.Create(""), 0u);
  EXPECT_EQ(process.WaitWith(neverSet), platform::Process::WaitResult::ProcessEnded);
  std::vector<std::string> lines;
  std::istringstream text(testsupport::ReadFile(output));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

// A foreground service whose console gets one event, on a thread of its own as the system
// delivers them. It notes in order when the handler answered and when its stop sequence,
// `stopMs` long, had run its course.
class ClosingShell : public hvs::CServiceShell {
 public:
  ClosingShell(std::uint32_t event, int stopMs)
      : CServiceShell("HvsTestService", "HVS Test", ""), event_(event), stopMs_(stopMs) {}

  void OnStop() override { stopRequested_ = true; }
  void ServiceMainBody(std::uint32_t, char**) override {
    console_ = std::thread([this] {
      const auto sent = std::chrono::steady_clock::now();
      const bool answer = OnConsoleControl(event_);
      answerMs_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - sent).count();
      Note(answer ? "answered true" : "answered false");
    });
    for (int tick = 0; tick < 200 && !stopRequested_; ++tick)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!stopRequested_) return Note("not stopped");
    std::this_thread::sleep_for(std::chrono::milliseconds(stopMs_));
    Note("stop sequence finished");
  }

  // Once the run is over: what was noted, and how long the answer took.
  std::vector<std::string> Finish() {
    if (console_.joinable()) console_.join();
    notes_.push_back("answer within 5 s " + std::string(answerMs_ < 5000 ? "yes" : "no"));
    return notes_;
  }

 private:
  void Note(const std::string& note) {
    const std::lock_guard<std::mutex> hold(lock_);
    notes_.push_back(note);
  }

  const std::uint32_t event_;
  const int stopMs_;
  std::atomic<bool> stopRequested_{false};
  std::thread console_;
  std::mutex lock_;
  std::vector<std::string> notes_;
  std::atomic<long long> answerMs_{0};
};

// Argument: the event, the stop sequence's length in ms, the output file.
const bool closingRole = testsupport::RegisterChildRole("console-event", [](const std::string& argument) {
  std::istringstream fields(argument);
  std::uint32_t event = 0;
  int stopMs = 0;
  std::string path;
  fields >> event >> stopMs >> std::ws;
  std::getline(fields, path);
  ClosingShell shell(event, stopMs);
  hvs::CServiceShellCommandLineInfo info;
  shell.ParseArguments(info);
  const std::uint32_t exitCode = shell.ExecuteVerb(info);
  std::ofstream out(path, std::ios::binary);
  for (const std::string& note : shell.Finish()) out << note << "\n";
  return static_cast<int>(exitCode & 0xFF);
});

struct ConsoleEventCase {
  std::uint32_t event;
  int stopMs;
  std::vector<std::string> notes;
};

void PrintTo(const ConsoleEventCase& c, std::ostream* out) {
  *out << "event " << c.event << ", stop sequence " << c.stopMs << " ms";
}

class ConsoleEvent : public ::testing::TestWithParam<ConsoleEventCase> {};

// Windows ends the process as soon as a close, log-off or shutdown is answered, so those
// are answered once the stop sequence is over, or before the system's limit runs out.
TEST_P(ConsoleEvent, IsAnsweredAfterTheStopSequenceWhereTheAnswerEndsTheProcess) {
  const ConsoleEventCase& c = GetParam();
  testsupport::TempDirectory directory;
  const std::string output = directory / "notes.txt";
  platform::Process process;
  {
    const testsupport::ChildRoleEnvironment role(
        "console-event", std::to_string(c.event) + " " + std::to_string(c.stopMs) + " " + output);
    ASSERT_EQ(process.Create(testsupport::QuotedCommand(testsupport::SelfPath()) + " /console"), 0u);
  }
  platform::ManualResetEvent neverSet;
  ASSERT_EQ(neverSet.Create(""), 0u);
  ASSERT_EQ(process.WaitWith(neverSet), platform::Process::WaitResult::ProcessEnded);
  std::vector<std::string> notes;
  std::istringstream text(testsupport::ReadFile(output));
  for (std::string line; std::getline(text, line);) notes.push_back(line);
  EXPECT_EQ(notes, c.notes);
}

const std::string kFinished = "stop sequence finished";
const std::string kAnswered = "answered true";
const std::string kInTime = "answer within 5 s yes";

INSTANTIATE_TEST_SUITE_P(
    Events, ConsoleEvent,
    ::testing::Values(ConsoleEventCase{0, 1500, {kAnswered, kFinished, kInTime}},  // Ctrl+C
                      ConsoleEventCase{1, 1500, {kAnswered, kFinished, kInTime}},  // Ctrl+Break
                      ConsoleEventCase{2, 1500, {kFinished, kAnswered, kInTime}},  // close
                      ConsoleEventCase{5, 1500, {kFinished, kAnswered, kInTime}},  // log-off
                      ConsoleEventCase{6, 1500, {kFinished, kAnswered, kInTime}},  // shutdown
                      // A stop sequence beyond the system's limit is not waited for.
                      ConsoleEventCase{2, 6500, {kAnswered, kFinished, kInTime}},
                      ConsoleEventCase{3, 0, {"answered false", "not stopped", kInTime}}));

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
