// Test helpers on POSIX.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/clock.h"
#include "tests/support/test_env.h"

extern char** environ;

namespace testsupport {

std::string MakeTempDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/hvs-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  return pattern;
}

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

void SetEnv(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnv(const std::string& name) { ::unsetenv(name.c_str()); }

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool SetLastWriteTime(const std::string& path, platform::FileTime time) {
  const std::int64_t seconds = platform::FileTimeToSeconds(time);
  const long nanoseconds = static_cast<long>((time % 10000000) * 100);
  const struct timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                                    {static_cast<time_t>(seconds), nanoseconds}};
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool SetCreationTime(const std::string&, platform::FileTime) { return false; }

int RunChildRole(const std::string& role, const std::string& argument) {
  SetEnv("HVS_TEST_CHILD_ROLE", role);
  SetEnv("HVS_TEST_CHILD_ARG", argument);
  char self[] = "/proc/self/exe";
  char* const argv[] = {self, nullptr};
  pid_t child = -1;
  const int spawned = ::posix_spawn(&child, self, nullptr, nullptr, argv, environ);
  UnsetEnv("HVS_TEST_CHILD_ROLE");
  UnsetEnv("HVS_TEST_CHILD_ARG");
  if (spawned != 0) return -1;
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testsupport
