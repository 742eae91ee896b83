// Many starts of a short command leave no extra thread, descriptor or zombie behind (Linux).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tasks/watcher_threads.h"
#include "tests/tasks/task_fixture.h"

namespace hvs::tasktest {
namespace {

std::size_t EntriesOf(const std::filesystem::path& directory) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    static_cast<void>(entry);
    ++count;
  }
  return count;
}

std::size_t OpenDescriptors() { return EntriesOf("/proc/self/fd"); }
std::size_t Threads() { return EntriesOf("/proc/self/task"); }

// Children of this process that have ended and not been reaped.
std::size_t Zombies() {
  const std::string self = std::filesystem::read_symlink("/proc/self").string();
  std::size_t zombies = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // "pid (name) state ppid ...": the name may hold blanks and parentheses.
    std::istringstream rest(line.substr(line.rfind(')') + 1));
    std::string state, parent;
    rest >> state >> parent;
    if (state == "Z" && parent == self) ++zombies;
  }
  return zombies;
}

// Finished() at a finer grain: a thousand waits of 10 ms would be most of this test.
bool EndsSoon(const Task& task) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (task.watcher.IsRunning()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

class ProcessWatcherPosixTest : public TaskFixture {};

// A copy of true of the test's own, so that no other process running true on the machine
// can refuse a start. Each start comes once the previous watch's thread waits for another:
// all of them take that one.
TEST_F(ProcessWatcherPosixTest, AThousandStartsOfAShortCommandReuseOneThreadAndLeaveNothingBehind) {
  const std::string ownTrue = program / "own_true";
  std::filesystem::copy_file("/bin/true", ownTrue);
  auto task = NewTask("Short", ownTrue);
  const std::size_t descriptors = OpenDescriptors();
  const std::size_t threads = Threads();
  const WatcherThreads& watchers = WatcherThreads::Shared();
  for (int start = 0; start < 1000; ++start) {
    ASSERT_EQ(task->watcher.Start(), StartResult::Started) << start;
    ASSERT_TRUE(EndsSoon(*task)) << start;
    ASSERT_TRUE(Eventually([&] { return watchers.IdleThreads() > 0; })) << start;
  }
  // Earlier tests' waiting threads may end meanwhile, never add to the count.
  EXPECT_LE(Threads(), threads + 1);
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_EQ(Zombies(), 0u);
}

}  // namespace
}  // namespace hvs::tasktest
