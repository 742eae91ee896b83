// The command line as the service program reads it: switches, verbs, options and the foreground list.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntservice/command_line_info.h"
#include "ntservice/process_arguments.h"

namespace {

using hvs::CServiceShellCommandLineInfo;
using ::testing::ElementsAre;

// The arguments after the program path, as the C runtime would hand them over.
CServiceShellCommandLineInfo Parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "C:\\Program Files\\ZAV\\ZAVPluginService.exe");
  CServiceShellCommandLineInfo info;
  hvs::ParseArgumentList(arguments, info);
  return info;
}

TEST(CommandLine, EmptyCommandLineRunsAsAService) {
  EXPECT_EQ(Parse({}).verb, hvs::VerbNone);
  CServiceShellCommandLineInfo info;
  hvs::ParseArgumentList({}, info);  // not even a program path
  EXPECT_EQ(info.verb, hvs::VerbNone);
}

TEST(CommandLine, VerbsAreWholeSwitchWordsInAnyCase) {
  EXPECT_EQ(Parse({"/INSTALL"}).verb, hvs::VerbInstall);
  EXPECT_EQ(Parse({"-Install"}).verb, hvs::VerbInstall);
  EXPECT_EQ(Parse({"/install"}).verb, hvs::VerbInstall);
  EXPECT_EQ(Parse({"install"}).verb, hvs::VerbNone);       // not a switch
  EXPECT_EQ(Parse({"--install"}).verb, hvs::VerbNone);     // only one "-" is dropped
  EXPECT_EQ(Parse({"/installnow"}).verb, hvs::VerbNone);   // not the whole word
  EXPECT_EQ(Parse({"/remove"}).verb, hvs::VerbUninstall);
  EXPECT_EQ(Parse({"-Console"}).verb, hvs::VerbForeground);
  EXPECT_EQ(Parse({"/?"}).verb, hvs::VerbHelp);
}

TEST(CommandLine, LastVerbWinsAndFlagsCombineInAnyOrder) {
  EXPECT_EQ(Parse({"/install", "/start"}).verb, hvs::VerbStart);
  for (const auto& arguments : {std::vector<std::string>{"/start", "/silent"},
                                std::vector<std::string>{"/silent", "/start"}}) {
    const CServiceShellCommandLineInfo info = Parse(arguments);
    EXPECT_EQ(info.verb, hvs::VerbStart);
    EXPECT_TRUE(info.silent);
  }
  const CServiceShellCommandLineInfo automatic = Parse({"/auto", "/install"});
  EXPECT_EQ(automatic.verb, hvs::VerbInstall);
  EXPECT_TRUE(automatic.autoStart);
}

TEST(CommandLine, TimeoutTakesTheLeadingNumberAndNeedsAValue) {
  EXPECT_EQ(Parse({"/T:"}).timeoutMs, 5000);
  EXPECT_EQ(Parse({"/T:abc"}).timeoutMs, 0);
  EXPECT_EQ(Parse({"/T:-1"}).timeoutMs, -1);
  EXPECT_EQ(Parse({"/t:30000"}).timeoutMs, 30000);
  EXPECT_EQ(Parse({"/T:250ms"}).timeoutMs, 250);
  EXPECT_EQ(Parse({"T:100"}).timeoutMs, 5000);  // not a switch
  EXPECT_EQ(Parse({"/T:100", "/T:200"}).timeoutMs, 200);
}

TEST(CommandLine, OptionValuesKeepTheirCase) {
  const CServiceShellCommandLineInfo info =
      Parse({"/U:DOMAIN\\Name", "-p:Pa55Word", "/sn:MySvc", "/SCL:/x -y"});
  EXPECT_EQ(info.userName, "DOMAIN\\Name");
  EXPECT_EQ(info.password, "Pa55Word");
  EXPECT_EQ(info.serviceName, "MySvc");
  EXPECT_EQ(info.commandTail, "/x -y");
  EXPECT_EQ(info.verb, hvs::VerbNone);
}

TEST(CommandLine, DisplayNameSwitchIsNotTakenForTheDescription) {
  const CServiceShellCommandLineInfo display = Parse({"/SDN:Name"});
  EXPECT_EQ(display.displayName, "Name");
  EXPECT_EQ(display.description, "");
  const CServiceShellCommandLineInfo description = Parse({"/SD:Text"});
  EXPECT_EQ(description.description, "Text");
  EXPECT_EQ(description.displayName, "");
}

// Records what the walk hands to the parser.
class RecordingInfo : public CServiceShellCommandLineInfo {
 public:
  void ParseParameter(const std::string& text, bool isSwitch, bool isLast) override {
    seen.push_back(text + (isSwitch ? " switch" : "") + (isLast ? " last" : ""));
  }
  std::vector<std::string> seen;
};

TEST(CommandLine, WalkSkipsTheProgramPathAndDropsOneSwitchCharacter) {
  RecordingInfo info;
  hvs::ParseArgumentList({"/prog", "/a", "b", "", "--c", "-"}, info);
  EXPECT_THAT(info.seen, ElementsAre("a switch", "b", "", "-c switch", " switch last"));
}

TEST(ForegroundArguments, OnlyTheForegroundSwitchesAreLeftOut) {
  const std::vector<std::string> arguments = {
      "C:\\svc.exe", "/console", "/silent", "-DEBUG", "/App", "-application", "console",
      "--console",   "/consoles", "/T:5"};
  EXPECT_THAT(hvs::ForegroundArguments(arguments),
              ElementsAre("C:\\svc.exe", "/silent", "console", "--console", "/consoles", "/T:5"));
}

TEST(ForegroundArguments, ArgumentListIsNullTerminated) {
  hvs::ArgumentList list({"one", "two"});
  ASSERT_EQ(list.count(), 2u);
  EXPECT_STREQ(list.data()[0], "one");
  EXPECT_STREQ(list.data()[1], "two");
  EXPECT_EQ(list.data()[2], nullptr);
}

}  // namespace
