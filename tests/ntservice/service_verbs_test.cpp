// ExecuteVerb: which operation each verb asks for, with what, and what a failure shows and returns.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/ntservice/test_shell.h"

namespace {

using hvs::CServiceShellCommandLineInfo;
using ::testing::ElementsAre;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

struct Request {
  std::uint32_t operation;
  std::uint32_t timeoutMs;
  std::uint32_t pollMs;
};

// The operations that talk to the service control manager, failing with `failWith`
// (0: succeeding) and remembering how they were called.
class VerbShell : public hvstest::TestShell {
 public:
  bool SetServiceToStatus(std::uint32_t operation, platform::Error& error, std::uint32_t timeoutMs,
                          std::uint32_t pollMs) override {
    requests.push_back({operation, timeoutMs, pollMs});
    return Outcome(error);
  }
  bool Install(std::string& text, platform::Error& error) override {
    installLine = installCommandLine;
    installAccount = accountName;
    installPassword = accountPassword;
    installStartType = startType;
    text = "install failed";
    return Outcome(error);
  }
  bool Uninstall(std::string& text, platform::Error& error, std::uint32_t timeoutMs) override {
    uninstallTimeout = timeoutMs;
    text = "uninstall failed";
    return Outcome(error);
  }
  std::string SystemErrorText(platform::Error error) override {
    return "<system " + std::to_string(error) + ">\r\n";
  }
  void ServiceMainBody(std::uint32_t, char**) override { mainRoutineRan = true; }

  platform::Error failWith = 1060;
  std::vector<Request> requests;
  std::string installLine, installAccount, installPassword;
  std::uint32_t installStartType = 0;
  std::uint32_t uninstallTimeout = 0;
  bool mainRoutineRan = false;

 private:
  bool Outcome(platform::Error& error) const {
    if (failWith == 0) return true;
    error = failWith;
    return false;
  }
};

// Runs `verb` and returns what it printed; `exitCode` receives its result.
std::string RunVerb(VerbShell& shell, CServiceShellCommandLineInfo& info, std::uint32_t& exitCode) {
  CaptureStdout();
  exitCode = shell.ExecuteVerb(info);
  return GetCapturedStdout();
}

TEST(ServiceVerbs, ControlVerbsFailWithTheirOwnTextAndTheErrorAsExitCode) {
  struct Case {
    hvs::ServiceVerb verb;
    std::uint32_t operation;
    const char* text;
  } const cases[] = {
      {hvs::VerbStart, 0, "Failed to start the service, Error:1060, <system 1060>\r\n\n"},
      {hvs::VerbPause, 1, "Failed to pause the service, Error:1060, <system 1060>\r\n\n"},
      {hvs::VerbContinue, 2, "Failed to continue the service, Error:1060, <system 1060>\r\n\n"},
      {hvs::VerbStop, 3, "Failed to stop the service, Error:1060, <system 1060>\r\n\n"},
  };
  for (const Case& c : cases) {
    VerbShell shell;
    CServiceShellCommandLineInfo info;
    info.verb = c.verb;
    info.timeoutMs = 30000;
    std::uint32_t exitCode = 0;
    EXPECT_EQ(RunVerb(shell, info, exitCode), c.text);
    EXPECT_EQ(exitCode, 1060u);
    ASSERT_EQ(shell.requests.size(), 1u);
    EXPECT_EQ(shell.requests[0].operation, c.operation);
    EXPECT_EQ(shell.requests[0].timeoutMs, 30000u);
    EXPECT_EQ(shell.requests[0].pollMs, 250u);
  }
}

TEST(ServiceVerbs, SilentFailureShowsNothingButKeepsTheExitCode) {
  VerbShell shell;
  CServiceShellCommandLineInfo info;
  info.verb = hvs::VerbStop;
  info.silent = true;
  std::uint32_t exitCode = 0;
  EXPECT_EQ(RunVerb(shell, info, exitCode), "");
  EXPECT_EQ(exitCode, 1060u);
}

TEST(ServiceVerbs, SucceedingVerbExitsZeroQuietlyAndUnlimitedTimeoutPassesAsAllBits) {
  VerbShell shell;
  shell.failWith = 0;
  CServiceShellCommandLineInfo info;
  info.verb = hvs::VerbPause;
  info.timeoutMs = -1;
  std::uint32_t exitCode = 99;
  EXPECT_EQ(RunVerb(shell, info, exitCode), "");
  EXPECT_EQ(exitCode, 0u);
  ASSERT_EQ(shell.requests.size(), 1u);
  EXPECT_EQ(shell.requests[0].timeoutMs, 0xFFFFFFFFu);
}

TEST(ServiceVerbs, InstallTakesOverTheAccountAndLeavesNoCopyInTheCommandLine) {
  VerbShell shell;
  CServiceShellCommandLineInfo info;
  info.verb = hvs::VerbInstall;
  info.userName = "DOMAIN\\Name";
  info.password = "s3cret";
  info.autoStart = true;
  std::uint32_t exitCode = 0;

  EXPECT_EQ(RunVerb(shell, info, exitCode), "install failed\n");
  EXPECT_EQ(exitCode, 1060u);

  EXPECT_EQ(shell.installAccount, "DOMAIN\\Name");
  EXPECT_EQ(shell.installPassword, "s3cret");
  EXPECT_EQ(shell.installStartType, 2u);
  EXPECT_TRUE(info.userName.empty());
  EXPECT_TRUE(info.password.empty());
  const std::string program = platform::ProgramPath();
  ASSERT_FALSE(program.empty());
  const bool quoted = program.find(' ') != std::string::npos;
  EXPECT_EQ(shell.installLine, quoted ? "\"" + program + "\"" : program);
}

TEST(ServiceVerbs, NameOverrideAppliesOnlyWhereTheServiceEnablesIt) {
  CServiceShellCommandLineInfo info;
  info.verb = hvs::VerbInstall;
  info.serviceName = "Other Name";
  info.displayName = "Other Display";
  std::uint32_t exitCode = 0;

  VerbShell closed;
  RunVerb(closed, info, exitCode);
  EXPECT_EQ(closed.serviceName, "HvsTestService");
  EXPECT_EQ(closed.displayName, "HVS Test Service");
  EXPECT_EQ(closed.installLine.find("/SN:"), std::string::npos);

  VerbShell open;
  open.allowServiceName = true;
  RunVerb(open, info, exitCode);
  EXPECT_EQ(open.serviceName, "Other Name");
  EXPECT_EQ(open.displayName, "HVS Test Service");  // its own switch stays closed
  EXPECT_THAT(open.installLine, ::testing::EndsWith(" \"/SN:Other Name\""));
}

TEST(ServiceVerbs, UninstallWaitsAsLongAsTheCommandLineSaysAndShowsItsText) {
  VerbShell shell;
  CServiceShellCommandLineInfo info;
  info.verb = hvs::VerbUninstall;
  info.timeoutMs = 1234;
  std::uint32_t exitCode = 0;
  EXPECT_EQ(RunVerb(shell, info, exitCode), "uninstall failed\n");
  EXPECT_EQ(exitCode, 1060u);
  EXPECT_EQ(shell.uninstallTimeout, 1234u);
}

TEST(ServiceVerbs, HelpShowsNothingRunsNothingAndExitsZero) {
  VerbShell shell;
  CServiceShellCommandLineInfo info;
  info.verb = hvs::VerbHelp;
  std::uint32_t exitCode = 99;
  EXPECT_EQ(RunVerb(shell, info, exitCode), "");
  EXPECT_EQ(exitCode, 0u);
  EXPECT_TRUE(shell.requests.empty());
  EXPECT_FALSE(shell.mainRoutineRan);
}

}  // namespace
