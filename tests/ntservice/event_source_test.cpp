// The event source's registration in the registry, and events written through EventSource.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ntservice/event_source.h"
#include "platform/eventlog.h"
#include "tests/ntservice/event_log_fixture.h"
#include "tests/support/registry_tree.h"

namespace {

using namespace std::string_literals;
using platform::Error;

const std::string kMessageFile = "C:\\Program Files\\ZAV\\ZAVPluginService.DLL";

class EventSourceRegistration : public testsupport::ScratchEventLog {
 protected:
  bool Install(const std::string& source, Error& error) {
    return hvs::InstallEventSource(kMessageFile, source, logName(), error);
  }
  bool Remove(const std::string& source, Error& error) {
    return hvs::RemoveEventSource(logName(), source, error);
  }
};

TEST_F(EventSourceRegistration, InstallWritesTheSourceValuesAndListsItOnceWhenRepeated) {
  WriteSources(platform::kRegMultiSz, "Other\0\0"s);
  Error error = 99;
  ASSERT_TRUE(Install("ZAV Source", error));
  EXPECT_EQ(platform::kSuccess, error);
  ASSERT_TRUE(Install("ZAV Source", error));

  std::uint32_t type = 0;
  EXPECT_EQ("Other\0ZAV Source\0\0"s, SourcesBytes(&type));
  EXPECT_EQ(platform::kRegMultiSz, type);

  std::string bytes;
  ASSERT_TRUE(testsupport::ReadRawValue(SourceKeyPath("ZAV Source"), "EventMessageFile", bytes, &type));
  EXPECT_EQ(kMessageFile + '\0', bytes);
  EXPECT_EQ(platform::kRegSz, type);
  ASSERT_TRUE(testsupport::ReadRawValue(SourceKeyPath("ZAV Source"), "TypesSupported", bytes, &type));
  EXPECT_EQ(platform::kRegDword, type);
  ASSERT_EQ(4u, bytes.size());
  std::uint32_t types = 0;
  std::memcpy(&types, bytes.data(), sizeof types);
  EXPECT_EQ(7u, types);
}

TEST_F(EventSourceRegistration, InstallMakesTheSourceTheOnlyEntryOfAnEmptyList) {
  WriteSources(platform::kRegMultiSz, "\0"s);
  Error error = 0;
  ASSERT_TRUE(Install("ZAV Source", error));
  EXPECT_EQ("ZAV Source\0\0"s, SourcesBytes());
}

TEST_F(EventSourceRegistration, InstallAddsANameDifferingOnlyInCaseAsAFurtherEntry) {
  WriteSources(platform::kRegMultiSz, "zav source\0\0"s);
  Error error = 0;
  ASSERT_TRUE(Install("ZAV Source", error));
  EXPECT_EQ("zav source\0ZAV Source\0\0"s, SourcesBytes());
}

TEST_F(EventSourceRegistration, SourcesOfAnotherTypeIsLeftUnchangedByInstallAndRemove) {
  WriteSources(platform::kRegSz, "Other\0"s);
  Error error = 0;
  ASSERT_TRUE(Install("ZAV Source", error));
  std::uint32_t type = 0;
  EXPECT_EQ("Other\0"s, SourcesBytes(&type));
  EXPECT_EQ(platform::kRegSz, type);

  ASSERT_TRUE(Remove("ZAV Source", error));
  EXPECT_EQ("Other\0"s, SourcesBytes(&type));
  EXPECT_EQ(platform::kRegSz, type);
  EXPECT_FALSE(testsupport::KeyExists(SourceKeyPath("ZAV Source")));
}

TEST_F(EventSourceRegistration, InstallCreatesAMissingLogKeyButNoSourcesList) {
  Error error = 99;
  ASSERT_TRUE(Install("ZAV Source", error));
  EXPECT_EQ(platform::kSuccess, error);
  EXPECT_TRUE(testsupport::KeyExists(SourceKeyPath("ZAV Source")));
  EXPECT_EQ("<absent>", SourcesBytes());
}

TEST_F(EventSourceRegistration, RemoveDeletesTheKeyAndTakesOutTheFirstEqualEntryOnly) {
  WriteSources(platform::kRegMultiSz, "A\0zav source\0ZAV Source\0B\0ZAV Source\0\0"s);
  Error error = 0;
  ASSERT_TRUE(Install("ZAV Source", error));
  ASSERT_TRUE(Remove("ZAV Source", error));
  EXPECT_EQ(platform::kSuccess, error);
  EXPECT_FALSE(testsupport::KeyExists(SourceKeyPath("ZAV Source")));
  EXPECT_EQ("A\0zav source\0B\0ZAV Source\0\0"s, SourcesBytes());
}

TEST_F(EventSourceRegistration, RemovingASourceThatIsNotThereFailsWith2AndChangesNothing) {
  WriteSources(platform::kRegMultiSz, "ZAV Source\0\0"s);
  Error error = 0;
  EXPECT_FALSE(Remove("ZAV Source", error));
  EXPECT_EQ(platform::kFileNotFound, error);
  EXPECT_EQ("ZAV Source\0\0"s, SourcesBytes());
}

std::string UnregisteredSourceName() {
  return "HvsTest unregistered " + std::to_string(platform::TickCount());
}

TEST(EventSourceReport, WritesEventsForASourceThatWasNeverInstalled) {
  hvs::EventSource source;
  source.sourceName = UnregisteredSourceName();
  EXPECT_EQ("Application", source.logName);
  EXPECT_TRUE(source.Report(platform::kEventInformation, 0x40000001, {"ZAV Server Plugin Service"}));
  EXPECT_TRUE(source.ReportErrorCode(0xC000000B, -5));
  EXPECT_TRUE(source.ReportErrorWithNumber(0xC000000E, "5, Access is denied.\r\n", 1));
  EXPECT_TRUE(source.Report(platform::kEventInformation, 0x40000009, {}));
}

}  // namespace
