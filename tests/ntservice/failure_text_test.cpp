// FormatFailure's modes with the real string table, the system texts, and the dependency block.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error_text.h"
#include "tests/ntservice/test_shell.h"

namespace {

// A shell with a known system text, so that the texts can be compared whole.
class TextShell : public hvstest::TestShell {
 public:
  std::string SystemErrorText(platform::Error error) override {
    return systemText.empty() ? "System text " + std::to_string(error) + ".\r\n" : systemText;
  }
  std::uint32_t MessageIdFor(std::uint32_t id) override {
    for (const auto& [from, to] : renumbered)
      if (from == id) return to;
    return id;
  }
  void SetModes(std::int32_t people, std::int32_t events) {
    failureTextMode = people;
    eventFailureTextMode = events;
  }
  std::string systemText;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> renumbered;
};

TEST(FailureText, EveryModeForPeopleAndForTheEventLog) {
  struct Case {
    std::int32_t mode;
    const char* forPeople;
    const char* forEvents;
  } const cases[] = {
      {0, "5", "5"},
      {1, "5, System text 5.\r\n", "5, System text 5.\r\n"},
      {2, "System text 5.\r\n", "System text 5.\r\n"},
      {3, "Failed to start the service, Error:5", ""},
      {4, "Failed to start the service, Error:5, System text 5.\r\n", ""},
      {5, "Failed to start the service, Error:System text 5.\r\n", ""},
      {6, "", ""},
      {-1, "", ""},
  };
  TextShell shell;
  for (const Case& c : cases) {
    shell.SetModes(c.mode, c.mode);
    EXPECT_EQ(shell.FormatFailure(10, 5, false), c.forPeople) << "mode " << c.mode;
    EXPECT_EQ(shell.FormatFailure(10, 5, true), c.forEvents) << "mode " << c.mode;
  }
}

TEST(FailureText, DefaultModesGiveTheMessageForPeopleAndThePairForEvents) {
  TextShell shell;
  EXPECT_EQ(shell.FormatFailure(3, 1073, false),
            "CServiceShell::Install, Failed call to CreateService, Error:1073, System text 1073.\r\n");
  EXPECT_EQ(shell.FormatFailure(3, 1073, true), "1073, System text 1073.\r\n");
}

TEST(FailureText, ErrorNumberIsSignedDecimal) {
  TextShell shell;
  shell.SetModes(0, 0);
  EXPECT_EQ(shell.FormatFailure(10, 0xFFFFFFFFu, false), "-1");
}

TEST(FailureText, MessageAndPairIdsBothPassMessageIdFor) {
  TextShell shell;
  shell.renumbered = {{10, 11}, {15, 201}};  // 201 has no inserts at all
  EXPECT_EQ(shell.FormatFailure(10, 5, false), "Failed to stop the service, Error:Runs ZAV Server Plugins");
}

TEST(FailureText, InsertedSystemTextIsNotExpandedAgain) {
  TextShell shell;
  shell.systemText = "%1 is not a valid Win32 application.\r\n";
  EXPECT_EQ(shell.FormatFailure(10, 193, false),
            "Failed to start the service, Error:193, %1 is not a valid Win32 application.\r\n");
}

TEST(SystemErrorText, SystemTextsEndWithTheirLineEndAndUnknownCodesHaveNone) {
  for (platform::Error code : {0u, 2u, 5u, 120u, 1060u, 1063u, 1073u, 1460u}) {
    const std::string text = platform::SystemErrorText(code);
    ASSERT_GT(text.size(), 2u) << code;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << code;
  }
  EXPECT_EQ(platform::SystemErrorText(0x20001234u), "");
  // The shell's own slot asks the platform.
  hvstest::TestShell shell;
  EXPECT_EQ(shell.SystemErrorText(2), platform::SystemErrorText(2));
}

TEST(DependencyList, EachEntryEndsInANulAndTheBlockInOneMore) {
  hvstest::TestShell shell;
  EXPECT_EQ(shell.DependencyList(), std::vector<char>{'\0'});
  // An empty entry would end the list early and lose "Tcpip".
  shell.dependencies = {"RpcSs", "", "Tcpip"};
  const std::vector<char> block = shell.DependencyList();
  EXPECT_EQ(std::string(block.begin(), block.end()), std::string("RpcSs\0Tcpip\0\0", 13));
}

}  // namespace
