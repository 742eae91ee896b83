// Scratch directories, files and environment for tests, on the real platform.
#pragma once

#include <string>
#include <vector>

#include "platform/files.h"

namespace testsupport {

// A new, empty directory of its own below the system's temporary directory.
std::string MakeTempDirectory();
// Removes `path` and everything below it; missing paths are fine.
void RemoveTree(const std::string& path);

void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// Whole-file helpers; a failure fails the calling test.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// The messages of the log file at `path` in order, each without its CRLF and its "[stamp] "
// (a line without one stays whole); a message's own "\n" stays. None when there is no file.
std::vector<std::string> LogMessages(const std::string& path);
// Sets the file's last-write time, as a `touch -d` would.
bool SetLastWriteTime(const std::string& path, platform::FileTime time);
// Sets the file's creation time; false where it cannot be set (a POSIX birth time).
bool SetCreationTime(const std::string& path, platform::FileTime time);

// Runs this test executable again as a child with HVS_TEST_CHILD_ROLE=`role` and
// HVS_TEST_CHILD_ARG=`argument`; returns its exit code, or -1 when it cannot run.
int RunChildRole(const std::string& role, const std::string& argument);

// A fresh directory for one test, removed at its end.
class TempDirectory {
 public:
  TempDirectory() : path_(MakeTempDirectory()) {}
  ~TempDirectory() { RemoveTree(path_); }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return platform::JoinPath(path_, name); }

 private:
  std::string path_;
};

}  // namespace testsupport
