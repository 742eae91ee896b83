// LogFile::RollOver: the daily rename to the creation date and the 14-day clean-up.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "log/log_file.h"
#include "platform/clock.h"
#include "tests/support/fake_clock.h"
#include "tests/support/test_env.h"

namespace hvs {
namespace {

constexpr std::int64_t kDay = 24 * 60 * 60;

// Local midnight of `now`, worked out with the C library rather than the code under test.
std::int64_t MidnightOf(std::int64_t now) {
  const std::time_t value = static_cast<std::time_t>(now);
  std::tm local = *std::localtime(&value);
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  return static_cast<std::int64_t>(std::mktime(&local));
}

std::string DateOf(platform::FileTime time) {
  const std::time_t value = static_cast<std::time_t>(platform::FileTimeToSeconds(time));
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", std::localtime(&value));
  return text;
}

class RollOverTest : public ::testing::Test {
 protected:
  RollOverTest() : log(false, clock) { log.Init(dir.path(), "HVS.Log"); }

  void Write(const std::string& name, const std::string& content, std::int64_t lastWrite) {
    testsupport::WriteFile(dir / name, content);
    ASSERT_TRUE(testsupport::SetLastWriteTime(dir / name, platform::SecondsToFileTime(lastWrite)));
  }

  platform::FileEntry Entry(const std::string& name) {
    std::vector<platform::FileEntry> found;
    EXPECT_EQ(platform::FindFiles(dir / name, found), platform::kSuccess);
    EXPECT_EQ(found.size(), 1u) << name;
    return found.empty() ? platform::FileEntry{} : found.front();
  }

  testsupport::TempDirectory dir;
  testsupport::FakeClock clock;
  LogFile log;
  const std::int64_t midnight = MidnightOf(clock.Now());
  const std::int64_t limit = midnight - 14 * kDay;
};

TEST_F(RollOverTest, FileLastWrittenYesterdayMovesToItsCreationDate) {
  Write("HVS.Log", "yesterday's lines\r\n", midnight - 1);
  const std::string dated = "HVS" + DateOf(Entry("HVS.Log").creationTime) + ".Log";

  log.RollOver();

  EXPECT_FALSE(testsupport::FileExists(dir / "HVS.Log"));
  EXPECT_EQ(testsupport::ReadFile(dir / dated), "yesterday's lines\r\n");
  log.Log("Service Started.");
  const std::string fresh = testsupport::ReadFile(dir / "HVS.Log");
  EXPECT_EQ(fresh.find("yesterday"), std::string::npos);
  EXPECT_NE(fresh.find("] Service Started.\r\n"), std::string::npos);
}

TEST_F(RollOverTest, FileWrittenSinceMidnightStays) {
  Write("HVS.Log", "a task ran just after midnight\r\n", midnight);
  log.RollOver();
  EXPECT_EQ(testsupport::ReadFile(dir / "HVS.Log"), "a task ran just after midnight\r\n");
  EXPECT_EQ(Entry("HVS*.Log").name, "HVS.Log");
}

TEST_F(RollOverTest, ExistingDatedNameLeavesLiveFileUntouched) {
  Write("HVS.Log", "live\r\n", midnight - kDay);
  const std::string dated = "HVS" + DateOf(Entry("HVS.Log").creationTime) + ".Log";
  Write(dated, "earlier\r\n", midnight - 10);

  log.RollOver();

  EXPECT_EQ(testsupport::ReadFile(dir / "HVS.Log"), "live\r\n");
  EXPECT_EQ(testsupport::ReadFile(dir / dated), "earlier\r\n");
}

TEST_F(RollOverTest, FourteenDayLimitIsExactToTheSecond) {
  Write("HVS20250101.Log", "at the limit\r\n", limit);
  Write("HVS20250102.Log", "a second older\r\n", limit - 1);
  log.RollOver();
  EXPECT_TRUE(testsupport::FileExists(dir / "HVS20250101.Log"));
  EXPECT_FALSE(testsupport::FileExists(dir / "HVS20250102.Log"));
}

TEST_F(RollOverTest, EveryOldMatchOfThePatternAgesOutAndNothingElse) {
  Write("HVS-old-copy.Log", "x", limit - kDay);
  Write("HVS.Log", "live but forgotten\r\n", limit - kDay);
  Write("Other.Log", "not ours", limit - kDay);
  Write("HVS.txt", "not ours", limit - kDay);
  Write("HVSrecent.Log", "young", midnight - kDay);
  Write("hvsLower.log", "the search ignores case", limit - 5);

  log.RollOver();

  EXPECT_FALSE(testsupport::FileExists(dir / "HVS-old-copy.Log"));
  EXPECT_FALSE(testsupport::FileExists(dir / "hvsLower.log"));
  EXPECT_TRUE(testsupport::FileExists(dir / "Other.Log"));
  EXPECT_TRUE(testsupport::FileExists(dir / "HVS.txt"));
  EXPECT_TRUE(testsupport::FileExists(dir / "HVSrecent.Log"));
  // The live file is renamed first; its dated copy is as old as it was, so it goes too.
  EXPECT_FALSE(testsupport::FileExists(dir / "HVS.Log"));
  std::vector<platform::FileEntry> left;
  platform::FindFiles(dir / "HVS*.Log", left);
  EXPECT_EQ(left.size(), 1u);
}

TEST_F(RollOverTest, MissingDirectoryIsHarmless) {
  LogFile elsewhere(false, clock);
  elsewhere.Init(dir / "missing", "HVS.Log");
  elsewhere.RollOver();
  EXPECT_FALSE(testsupport::FileExists(dir / "missing"));
}

TEST_F(RollOverTest, DivertedLogHandsMessagesToItsSinkAndLeavesTheFilesAlone) {
  const std::int64_t old = clock.Now() - 20 * kDay;
  Write("HVS.Log", "old\r\n", old);
  std::vector<std::string> messages;
  log.Divert([&](std::string_view message) { messages.emplace_back(message); });
  log.Log("Service Started.");
  log.LogFormat("Unknown node: %s\n", "Foo");
  log.RollOver();
  EXPECT_EQ(messages, (std::vector<std::string>{"Service Started.", "Unknown node: Foo\n"}));
  EXPECT_EQ(testsupport::ReadFile(dir / "HVS.Log"), "old\r\n");
  EXPECT_EQ(platform::FileTimeToSeconds(Entry("HVS.Log").lastWriteTime), old);

  log.Divert(nullptr);
  log.Log("back");
  EXPECT_NE(testsupport::ReadFile(dir / "HVS.Log").find("] back\r\n"), std::string::npos);
  EXPECT_EQ(messages.size(), 2u);
}

}  // namespace
}  // namespace hvs
