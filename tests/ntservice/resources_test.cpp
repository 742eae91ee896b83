// The string table and the event texts, as each target's own resource machinery delivers them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/resources.h"

namespace {

// The message DLL is copied beside the test executable, where the program has it too.
std::string MessageFile() {
  std::string path = platform::ProgramPath();
  path.erase(path.rfind(platform::PathSeparator()));
  return platform::JoinPath(path, "ZAVPluginService.dll");
}

std::string Text(std::uint32_t id, const std::vector<std::string>& inserts) {
  return platform::EventMessageText(MessageFile(), id, inserts);
}

TEST(StringTable, HoldsTheServiceIdentity) {
  EXPECT_EQ("ZAVPluginService", platform::LoadResourceString(202));
  EXPECT_EQ("ZAV Server Plugin Service", platform::LoadResourceString(200));
  EXPECT_EQ("Runs ZAV Server Plugins", platform::LoadResourceString(201));
}

TEST(StringTable, HoldsTheFrameworkMessagesAndNothingForUnusedIds) {
  EXPECT_EQ("CServiceShell::Install, Failed call to open SCM, Error:%1",
            platform::LoadResourceString(1));
  EXPECT_EQ("CServiceShell::Uninstall, Failed call to remove service as an event log source, Error:%1",
            platform::LoadResourceString(9));
  EXPECT_EQ("Failed to start the service, Error:%1", platform::LoadResourceString(10));
  EXPECT_EQ("Failed to pause the service, Error:%1", platform::LoadResourceString(13));
  EXPECT_EQ("%1, %2", platform::LoadResourceString(15));
  EXPECT_EQ("CServiceShell::SetServiceToStatus, Failed to check the service status, Error:%1",
            platform::LoadResourceString(24));
  for (std::uint32_t id = 1; id <= 24; ++id)
    EXPECT_EQ(id == 14, platform::LoadResourceString(id).empty()) << "string " << id;
  for (const std::uint32_t id : {0u, 25u, 199u, 203u, 0x10000u + 202u})
    EXPECT_EQ("", platform::LoadResourceString(id)) << "string " << id;
}

TEST(EventTexts, NameTheServiceInEveryLifeCycleEvent) {
  const std::string name = "ZAV Server Plugin Service";
  EXPECT_EQ(name + " has started.", Text(0x40000001, {name}));
  EXPECT_EQ(name + " has been installed.", Text(0x40000002, {name}));
  EXPECT_EQ(name + " has stopped.", Text(0x40000003, {name}));
  EXPECT_EQ(name + " has been paused.", Text(0x40000004, {name}));
  EXPECT_EQ(name + " has been continued.", Text(0x40000005, {name}));
  EXPECT_EQ(name + " was told that the system is shutting down.", Text(0x40000009, {name}));
}

TEST(EventTexts, CarryTheFailureTextOfEveryErrorEvent) {
  // A failure text ends with the system's line end, which the event text keeps.
  const std::string failure = "5, Access is denied.\r\n";
  for (const std::uint32_t id : {0xC0000006u, 0xC0000007u, 0xC0000008u, 0xC000000Au, 0xC000000Cu,
                                 0xC000000Du, 0xC000000Fu}) {
    const std::string text = Text(id, {failure});
    EXPECT_NE(std::string::npos, text.find(": " + failure)) << std::hex << id << ": " << text;
    EXPECT_EQ(failure.size(), text.size() - text.find(failure)) << std::hex << id;
  }
  EXPECT_EQ("The service could not be stopped, error 1062.", Text(0xC000000B, {"1062"}));
  EXPECT_EQ("Waiting for the service to reach state 1 failed: " + failure,
            Text(0xC000000E, {failure, "1"}));
}

TEST(EventTexts, LeaveMissingInsertsVisibleAndNeverExpandAnInsertAgain) {
  EXPECT_EQ("Waiting for the service to reach state %2 failed: x", Text(0xC000000E, {"x"}));
  EXPECT_EQ("%1 has started.", Text(0x40000001, {}));
  EXPECT_EQ("50%2 has started.", Text(0x40000001, {"50%2", "no"}));
}

TEST(EventTexts, AreEmptyForIdsWithoutText) {
  EXPECT_EQ("", Text(0x40000006, {"x"}));
  EXPECT_EQ("", Text(0x00000001, {"x"}));
  EXPECT_EQ("", Text(0xC0000001, {"x"}));
}

}  // namespace
