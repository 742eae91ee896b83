// LogFile: the stamp, the line format and the console echo.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "log/log_file.h"
#include "tests/support/test_env.h"

namespace hvs {
namespace {

using platform::ZoneInformation;

ZoneInformation Zone(ZoneInformation::Status status, int bias, int standardBias, int daylightBias) {
  ZoneInformation zone;
  zone.status = status;
  zone.bias = bias;
  zone.standardBias = standardBias;
  zone.daylightBias = daylightBias;
  return zone;
}

std::string Offset(ZoneInformation::Status status, int bias, int standardBias, int daylightBias) {
  const ZoneInformation zone = Zone(status, bias, standardBias, daylightBias);
  return FormatZoneOffset(&zone);
}

TEST(ZoneOffset, IsMinutesEastOfUtcWithDaylightBiasOnlyInDaylightTime) {
  const auto kStandard = ZoneInformation::Status::Standard;
  const auto kDaylight = ZoneInformation::Status::Daylight;
  const auto kUnknown = ZoneInformation::Status::Unknown;
  EXPECT_EQ(Offset(kUnknown, -330, 0, 0), "+0530");  // India
  EXPECT_EQ(Offset(kDaylight, 300, 0, -60), "-0400");  // New York, summer
  EXPECT_EQ(Offset(kStandard, 300, 0, -60), "-0500");  // New York, winter
  EXPECT_EQ(Offset(kStandard, 300, -30, -60), "-0500");  // standard bias unused
  EXPECT_EQ(Offset(kUnknown, 0, 0, -60), "+0000");
  EXPECT_EQ(Offset(kDaylight, -60, 0, -60), "+0200");  // Berlin, summer
  EXPECT_EQ(Offset(kUnknown, 45, 0, 0), "-0045");
  EXPECT_EQ(FormatZoneOffset(nullptr), "+0000");
}

TEST(ZoneOffset, HoursWrapAtOneHundred) {
  // Only two digits of hours fit; a nonsensical bias must not widen the stamp.
  EXPECT_EQ(Offset(ZoneInformation::Status::Unknown, -(101 * 60 + 7), 0, 0),
            "+0107");
}

TEST(Stamp, HasEnglishDayAndMonthAnd24HourClock) {
  std::tm local {};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11;
  local.tm_mday = 7;
  local.tm_wday = 1;
  local.tm_hour = 14;
  local.tm_min = 3;
  local.tm_sec = 59;
  const ZoneInformation zone = Zone(ZoneInformation::Status::Standard, -60, 0, -60);
  EXPECT_EQ(FormatStamp(local, &zone), "Mon, 07 Dec 2026 14:03:59 +0100");
}

TEST(Echo, ShowsDoubledPercentOnce) {
  EXPECT_EQ(EchoText("50%%"), "50%");
  EXPECT_EQ(EchoText("%FOO"), "%FOO");
  EXPECT_EQ(EchoText("%%%"), "%%");
  EXPECT_EQ(EchoText("a %%%% b%"), "a %% b%");
}

TEST(LogFileInit, SplitsNameAtLastDot) {
  LogFile log(false);
  log.Init("dir", "HVS.Log");
  EXPECT_EQ(log.baseName(), "HVS");
  EXPECT_EQ(log.extension(), "Log");
  log.Init("dir", "a.b.c");
  EXPECT_EQ(log.baseName(), "a.b");
  EXPECT_EQ(log.extension(), "c");
  log.Init("dir", "NoDot");
  EXPECT_EQ(log.baseName(), "NoDot");
  EXPECT_EQ(log.extension(), "NoDot");
}

class LogFileTest : public ::testing::Test {
 protected:
  std::string LiveFile() const { return dir / "HVS.Log"; }
  testsupport::TempDirectory dir;
};

TEST_F(LogFileTest, FirstLineCreatesTheFileWithOneStampedCrLfLine) {
  LogFile log(false);
  log.Init(dir.path(), "HVS.Log");
  ASSERT_FALSE(testsupport::FileExists(LiveFile()));
  log.Log("Service Started.");
  const std::string content = testsupport::ReadFile(LiveFile());
  const std::regex line(
      R"(\[(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d [+-]\d{4}\] Service Started\.\r\n)");
  EXPECT_TRUE(std::regex_match(content, line)) << content;
}

TEST_F(LogFileTest, MessagesAreAppendedByteForByte) {
  LogFile log(false);
  log.Init(dir.path(), "HVS.Log");
  log.Log("50%% done %FOO");
  log.Log("two\nlines");
  log.LogFormat("Unknown node: %s\n", "Extra");
  const std::string content = testsupport::ReadFile(LiveFile());
  const auto first = content.find("] 50%% done %FOO\r\n[");
  const auto second = content.find("] two\nlines\r\n[");
  const auto third = content.find("] Unknown node: Extra\n\r\n");
  EXPECT_NE(first, std::string::npos) << content;
  EXPECT_NE(second, std::string::npos) << content;
  EXPECT_NE(third, std::string::npos) << content;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_EQ(content.substr(content.size() - 3), "\n\r\n");
}

TEST_F(LogFileTest, EchoShowsTheLineWithSinglePercents) {
  LogFile log(true);
  log.Init(dir.path(), "HVS.Log");
  ::testing::internal::CaptureStdout();
  log.Log("Task 'a' run by command: 50%% %FOO");
  const std::string shown = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(shown.substr(0, 1), "[");
  EXPECT_NE(shown.find("] Task 'a' run by command: 50% %FOO\r\n"), std::string::npos) << shown;
  EXPECT_NE(testsupport::ReadFile(LiveFile()).find("50%% %FOO"), std::string::npos);
}

// A removed Logs folder is made again; without the folder above it the line is lost, and
// the console still shows it.
TEST_F(LogFileTest, ARemovedFolderIsMadeAgainButAMissingParentLosesTheLine) {
  struct Case {
    std::string directory;
    bool written;
  };
  const Case cases[] = {{dir / "Logs", true}, {platform::JoinPath(dir / "gone", "Logs"), false}};
  for (const Case& c : cases) {
    LogFile log(true);
    log.Init(c.directory, "HVS.Log");
    log.Log("before");
    testsupport::RemoveTree(c.directory);
    ::testing::internal::CaptureStdout();
    log.Log("after");
    const std::string shown = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(shown.find("] after\r\n"), std::string::npos) << c.directory;
    const std::string live = platform::JoinPath(c.directory, "HVS.Log");
    ASSERT_EQ(testsupport::FileExists(live), c.written) << c.directory;
    if (c.written) {
      EXPECT_NE(testsupport::ReadFile(live).find("] after\r\n"), std::string::npos);
    }
    EXPECT_EQ(testsupport::FileExists(dir / "gone"), false);
  }
}

TEST_F(LogFileTest, LogFormatHandlesLongTexts) {
  LogFile log(false);
  log.Init(dir.path(), "HVS.Log");
  const std::string longText(5000, 'x');
  log.LogFormat("Task '%s' done", longText.c_str());
  EXPECT_NE(testsupport::ReadFile(LiveFile()).find("Task '" + longText + "' done\r\n"),
            std::string::npos);
}

// A text from outside with CR, LF, ESC and other control characters stays on the one line
// of its call, in the file, on the console and in a diverted sink, shown escaped; a final
// line feed of the format itself stays, and a text shown escaped before is not changed again.
TEST_F(LogFileTest, InsertedControlCharactersAreShownEscapedOnOneLine) {
  const std::string forged = "x\r\n[Wed, 09 Dec 2026 18:00:00 +0000] Service Stopped";
  const std::string shownBefore = ShowControlCharacters("C:\\dir\\x \x1b[31m");
  struct Case {
    const char* what;
    std::function<void(LogFile&)> write;
    std::string message;
  };
  const Case cases[] = {
      {"a forged line", [&](LogFile& log) { log.LogFormat("Loaded task: %s", forged.c_str()); },
       "Loaded task: x\\r\\n[Wed, 09 Dec 2026 18:00:00 +0000] Service Stopped"},
      {"terminal controls",
       [](LogFile& log) {
         log.LogFormat("Task '%s' run by command: %s", "a", "\x1b[2J\x1b]0;t\x07 \t\x7f\x01");
       },
       "Task 'a' run by command: \\x1b[2J\\x1b]0;t\\x07 \\t\\x7f\\x01"},
      {"the format's own line feed",
       [](LogFile& log) { log.LogFormat("Unknown node: %s\n", "a\nb\n"); },
       "Unknown node: a\\nb\\n\n"},
      {"shown escaped before",
       [&](LogFile& log) { log.LogFormat("Task '%s' output: %s", "a", shownBefore.c_str()); },
       "Task 'a' output: C:\\dir\\x \\x1b[31m"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string live = dir / "HVS.Log";
    testsupport::RemoveTree(live);
    LogFile log(true);
    log.Init(dir.path(), "HVS.Log");
    ::testing::internal::CaptureStdout();
    c.write(log);
    const std::string shown = ::testing::internal::GetCapturedStdout();
    const std::string content = testsupport::ReadFile(live);
    EXPECT_EQ(content.substr(content.find("] ") + 2), c.message + "\r\n");
    EXPECT_EQ(shown, content);
    EXPECT_EQ(content.find('\r'), content.size() - 2) << "more than one line: " << content;

    std::vector<std::string> diverted;
    log.Divert([&](std::string_view message) { diverted.emplace_back(message); });
    c.write(log);
    EXPECT_EQ(diverted, std::vector<std::string>{c.message});
  }
}

}  // namespace
}  // namespace hvs
