// What POSIX adds to the file interface: modes that keep logs from other users, and only
// regular files opened for reading.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "tests/support/test_env.h"

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

// Logs can hold full commands: with the usual umask of 022 others get nothing.
TEST(PosixFiles, DirectoriesAre0750AndAppendedFiles0640) {
  testsupport::TempDirectory dir;
  const mode_t previous = ::umask(022);
  EXPECT_EQ(platform::CreateDirectory(dir / "Logs"), platform::kSuccess);
  EXPECT_EQ(platform::AppendToFile(platform::JoinPath(dir / "Logs", "HVS.Log"), "x"),
            platform::kSuccess);
  ::umask(previous);
  EXPECT_EQ(ModeOf(dir / "Logs"), 0750u);
  EXPECT_EQ(ModeOf(platform::JoinPath(dir / "Logs", "HVS.Log")), 0640u);
}

// A FIFO would block the open until a writer comes, a device would read for ever.
TEST(PosixFiles, InputFileOpensOnlyRegularFilesAfterFollowingLinks) {
  testsupport::TempDirectory dir;
  testsupport::WriteFile(dir / "file", "x");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir / "file", dir / "to-file");
  std::filesystem::create_symlink("/dev/zero", dir / "to-zero");
  std::filesystem::create_symlink(dir.path(), dir / "to-directory");
  const struct {
    const char* name;
    platform::Error expected;
  } cases[] = {{"file", platform::kSuccess},
               {"to-file", platform::kSuccess},
               {"fifo", platform::kNotRegularFile},
               {"to-zero", platform::kNotRegularFile},
               {"to-directory", platform::kAccessDenied}};
  for (const auto& c : cases) {
    platform::InputFile file;
    EXPECT_EQ(file.Open(dir / c.name), c.expected) << c.name;
  }
}

}  // namespace
