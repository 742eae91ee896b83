// The file interface's contract, on the real file system of either target.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "tests/support/test_env.h"

namespace {

using platform::FileEntry;
using testsupport::TempDirectory;

std::vector<std::string> SortedNames(const std::vector<FileEntry>& entries) {
  std::vector<std::string> names;
  for (const FileEntry& entry : entries) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Find(const std::string& pattern) {
  std::vector<FileEntry> entries;
  EXPECT_EQ(platform::FindFiles(pattern, entries), platform::kSuccess) << pattern;
  return SortedNames(entries);
}

using Names = std::vector<std::string>;

TEST(FindFiles, MatchesNamesWithoutRegardToCaseAndKeepsTheirCase) {
  TempDirectory dir;
  for (const char* name : {"Task.XML", "other.xml", "notes.txt", "xml"})
    testsupport::WriteFile(dir / name, "x");
  EXPECT_EQ(Find(dir / "*.xml"), (Names{"Task.XML", "other.xml"}));
  EXPECT_EQ(Find(dir / "TASK.xml"), (Names{"Task.XML"}));
}

TEST(FindFiles, StarBeforeTheDotMatchesAnEmptyOrLongerStem) {
  TempDirectory dir;
  for (const char* name : {"HVS.Log", "HVS20261207.Log", "HVSold.log", "XHVS.Log", "HVS.Log.bak",
                           "HVS.txt", "HVS.Logs", "HVS20261207.Log1"})
    testsupport::WriteFile(dir / name, "x");
  EXPECT_EQ(Find(dir / "HVS*.Log"), (Names{"HVS.Log", "HVS20261207.Log", "HVSold.log"}));
  EXPECT_EQ(Find(dir / "HVS????????.Log"), (Names{"HVS20261207.Log"}));
}

// Windows also matches the generated 8.3 alias ("LONGFI~1.XML"); a backup file must not
// become a task, nor an unrelated file be aged out with the logs.
TEST(FindFiles, MatchesTheWholeNameNeverAShortAlias) {
  TempDirectory dir;
  for (const char* name : {"task.xml", "task.xml~", "a.xmlx", "LongFileName.xmlbak"})
    testsupport::WriteFile(dir / name, "x");
  EXPECT_EQ(Find(dir / "*.xml"), (Names{"task.xml"}));
  EXPECT_EQ(Find(dir / "*.xml?"), (Names{"a.xmlx", "task.xml~"}));
}

TEST(FindFiles, ListsDirectoriesButNeverTheDotEntries) {
  TempDirectory dir;
  ASSERT_EQ(platform::CreateDirectory(dir / "sub"), platform::kSuccess);
  testsupport::WriteFile(dir / "file", "x");
  std::vector<FileEntry> entries;
  ASSERT_EQ(platform::FindFiles(dir / "*", entries), platform::kSuccess);
  ASSERT_EQ(SortedNames(entries), (Names{"file", "sub"}));
  for (const FileEntry& entry : entries) EXPECT_EQ(entry.isDirectory, entry.name == "sub");
}

TEST(FindFiles, NoMatchIsSuccessButAMissingDirectoryIsAnError) {
  TempDirectory dir;
  EXPECT_EQ(Find(dir / "*.xml"), Names{});
  std::vector<FileEntry> entries{FileEntry{}};
  const platform::Error missing =
      platform::FindFiles(platform::JoinPath(dir / "missing", "*.xml"), entries);
  EXPECT_TRUE(missing == platform::kFileNotFound || missing == platform::kPathNotFound) << missing;
  EXPECT_TRUE(entries.empty());
}

TEST(FindFiles, ReportsFileTimesOnTheSameScaleAsTheClock) {
  TempDirectory dir;
  const std::string path = dir / "dated.Log";
  testsupport::WriteFile(path, "x");
  std::vector<FileEntry> entries;
  ASSERT_EQ(platform::FindFiles(path, entries), platform::kSuccess);
  ASSERT_EQ(entries.size(), 1u);
  const double now = static_cast<double>(platform::CurrentTime());
  EXPECT_NEAR(static_cast<double>(platform::FileTimeToSeconds(entries[0].creationTime)), now, 5.0);
  EXPECT_NEAR(static_cast<double>(platform::FileTimeToSeconds(entries[0].lastWriteTime)), now, 5.0);

  // Two days ago, with a sub-second part that a conversion through seconds would lose.
  const platform::FileTime set =
      platform::SecondsToFileTime(platform::CurrentTime() - 2 * 86400) + 1234567;
  ASSERT_TRUE(testsupport::SetLastWriteTime(path, set));
  ASSERT_EQ(platform::FindFiles(path, entries), platform::kSuccess);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].lastWriteTime, set);
}

TEST(AppendToFile, CreatesTheFileThenAppendsToIt) {
  TempDirectory dir;
  const std::string path = dir / "HVS.Log";
  ASSERT_EQ(platform::AppendToFile(path, "one\r\n"), platform::kSuccess);
  EXPECT_EQ(testsupport::ReadFile(path), "one\r\n");
  ASSERT_EQ(platform::AppendToFile(path, std::string("t\0o\r\n", 5)), platform::kSuccess);
  EXPECT_EQ(testsupport::ReadFile(path), std::string("one\r\nt\0o\r\n", 10));
}

TEST(AppendToFile, FailsWithoutCreatingAnythingWhenTheDirectoryIsMissing) {
  TempDirectory dir;
  const std::string path = platform::JoinPath(dir / "Logs", "HVS.Log");
  EXPECT_NE(platform::AppendToFile(path, "line"), platform::kSuccess);
  EXPECT_FALSE(testsupport::FileExists(path));
}

platform::FileTime CreationOf(const std::string& path) {
  std::vector<platform::FileEntry> found;
  EXPECT_EQ(platform::FindFiles(path, found), platform::kSuccess);
  return found.empty() ? 0 : found.front().creationTime;
}

// NTFS gives a file made under a name removed or renamed seconds ago the old file's
// creation time, which would date the next day's log after yesterday. A file that exists
// keeps its own.
TEST(AppendToFile, AFileItCreatesHasTheCurrentCreationTime) {
  TempDirectory dir;
  const std::string path = dir / "HVS.Log";
  const std::int64_t now = platform::SystemClock().Now();
  const platform::FileTime old = platform::SecondsToFileTime(now - 2 * 86400);
  ASSERT_EQ(platform::AppendToFile(path, "old"), platform::kSuccess);
  if (!testsupport::SetCreationTime(path, old) || CreationOf(path) != old)
    GTEST_SKIP() << "creation times cannot be set on this file system";
  ASSERT_EQ(platform::AppendToFile(path, "more"), platform::kSuccess);
  EXPECT_EQ(CreationOf(path), old);

  ASSERT_EQ(platform::RenameFile(path, dir / "HVS20261207.Log"), platform::kSuccess);
  ASSERT_EQ(platform::AppendToFile(path, "new"), platform::kSuccess);
  EXPECT_GE(CreationOf(path), platform::SecondsToFileTime(now - 60));
}

TEST(CreateDirectory, CreatesOnceThenReportsThatItExists) {
  TempDirectory dir;
  EXPECT_EQ(platform::CreateDirectory(dir / "Config"), platform::kSuccess);
  EXPECT_EQ(platform::CreateDirectory(dir / "Config"), platform::kAlreadyExists);
  const platform::Error nested = platform::CreateDirectory(platform::JoinPath(dir / "a", "b"));
  EXPECT_TRUE(nested == platform::kFileNotFound || nested == platform::kPathNotFound) << nested;
}

TEST(RenameFile, RefusesToReplaceAnExistingTargetAndLeavesBothFiles) {
  TempDirectory dir;
  testsupport::WriteFile(dir / "HVS.Log", "live");
  testsupport::WriteFile(dir / "HVS20261207.Log", "dated");
  EXPECT_EQ(platform::RenameFile(dir / "HVS.Log", dir / "HVS20261207.Log"),
            platform::kAlreadyExists);
  EXPECT_EQ(testsupport::ReadFile(dir / "HVS.Log"), "live");
  EXPECT_EQ(testsupport::ReadFile(dir / "HVS20261207.Log"), "dated");
}

TEST(RenameFile, MovesToAFreeNameAndRemoveFileDeletesOnce) {
  TempDirectory dir;
  testsupport::WriteFile(dir / "HVS.Log", "live");
  ASSERT_EQ(platform::RenameFile(dir / "HVS.Log", dir / "HVS20261207.Log"), platform::kSuccess);
  EXPECT_FALSE(testsupport::FileExists(dir / "HVS.Log"));
  EXPECT_EQ(testsupport::ReadFile(dir / "HVS20261207.Log"), "live");
  EXPECT_EQ(platform::RemoveFile(dir / "HVS20261207.Log"), platform::kSuccess);
  EXPECT_FALSE(testsupport::FileExists(dir / "HVS20261207.Log"));
  EXPECT_EQ(platform::RemoveFile(dir / "HVS20261207.Log"), platform::kFileNotFound);
}

TEST(InputFile, ReadsTheWholeFileInBlocksThenReportsTheEnd) {
  TempDirectory dir;
  std::string content;
  for (int i = 0; i < 600; ++i) content += static_cast<char>(i % 251);
  testsupport::WriteFile(dir / "task.xml", content);

  platform::InputFile file;
  ASSERT_EQ(file.Open(dir / "task.xml"), platform::kSuccess);
  EXPECT_EQ(file.Size(), content.size());
  std::string read;
  std::vector<std::uint32_t> counts;
  char block[256];
  for (std::uint32_t count = 1; count != 0;) {
    ASSERT_EQ(file.Read(block, sizeof block, count), platform::kSuccess);
    counts.push_back(count);
    read.append(block, count);
    ASSERT_LE(counts.size(), 10u);
  }
  EXPECT_EQ(counts, (std::vector<std::uint32_t>{256, 256, 88, 0}));
  EXPECT_EQ(read, content);
}

TEST(InputFile, OpenReportsMissingFilesAndDirectories) {
  TempDirectory dir;
  platform::InputFile file;
  EXPECT_EQ(file.Open(dir / "missing.xml"), platform::kFileNotFound);
  ASSERT_EQ(platform::CreateDirectory(dir / "folder.xml"), platform::kSuccess);
  EXPECT_EQ(file.Open(dir / "folder.xml"), platform::kAccessDenied);
  std::uint32_t count = 1;
  char block[16];
  EXPECT_NE(file.Read(block, sizeof block, count), platform::kSuccess);
  EXPECT_EQ(count, 0u);
}

// Windows keeps other openers out while the file is read; POSIX has no such lock. Either
// way readers and writers must be treated alike, and the file must be free after Close.
TEST(InputFile, ExcludesOtherReadersAndWritersAlikeUntilClosed) {
  TempDirectory dir;
  const std::string path = dir / "task.xml";
  testsupport::WriteFile(path, "<Task/>");

  platform::InputFile first;
  ASSERT_EQ(first.Open(path), platform::kSuccess);
  platform::InputFile second;
  const platform::Error secondOpen = second.Open(path);
  const platform::Error append = platform::AppendToFile(path, "!");
  EXPECT_TRUE(secondOpen == platform::kSuccess || secondOpen == platform::kSharingViolation)
      << secondOpen;
  EXPECT_EQ(append, secondOpen);
  second.Close();
  first.Close();

  EXPECT_EQ(testsupport::ReadFile(path), append == platform::kSuccess ? "<Task/>!" : "<Task/>");
  EXPECT_EQ(second.Open(path), platform::kSuccess);
  second.Close();
  EXPECT_EQ(platform::AppendToFile(path, "?"), platform::kSuccess);
}

TEST(ProgramPath, NamesTheRunningExecutableFile) {
  const std::string path = platform::ProgramPath();
  ASSERT_FALSE(path.empty());
  EXPECT_NE(path.find(platform::PathSeparator()), std::string::npos);
  std::vector<FileEntry> entries;
  ASSERT_EQ(platform::FindFiles(path, entries), platform::kSuccess);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_FALSE(entries[0].isDirectory);
  EXPECT_EQ(path.substr(path.size() - entries[0].name.size()), entries[0].name);
}

}  // namespace
