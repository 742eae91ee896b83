// The watcher threads: a waiting thread takes the next job, jobs never wait for each other,
// and a thread left without a job ends.
#include "tasks/watcher_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>
#include <thread>
#include <vector>

#include "tests/tasks/task_fixture.h"

namespace hvs::tasktest {
namespace {

using namespace std::chrono_literals;

// Runs a job that reports the thread it ran on, and waits for it; no thread's id when the
// job never runs.
std::thread::id RunAndWait(WatcherThreads& threads) {
  auto ranOn = std::make_shared<std::promise<std::thread::id>>();
  std::future<std::thread::id> ran = ranOn->get_future();
  threads.Run([ranOn] { ranOn->set_value(std::this_thread::get_id()); });
  return ran.wait_for(15s) == std::future_status::ready ? ran.get() : std::thread::id();
}

// Each thread's lifetime outlasts the test, so that its end cannot stand in for reuse.
TEST(WatcherThreadsTest, JobsAfterOneAnotherRunOnOneThreadAndJobsAtOnceOnThreadsOfTheirOwn) {
  // Never destroyed: its threads wait on it up to the process's end.
  static WatcherThreads* const longLived = new WatcherThreads(1h);
  WatcherThreads& threads = *longLived;

  const std::thread::id first = RunAndWait(threads);
  ASSERT_NE(first, std::thread::id());
  ASSERT_TRUE(Eventually([&] { return threads.IdleThreads() == 1; }));
  EXPECT_EQ(RunAndWait(threads), first);
  ASSERT_TRUE(Eventually([&] { return threads.IdleThreads() == 1; }));

  // Three jobs that each wait for all three to run: one thread for each, two of them new.
  constexpr int kAtOnce = 3;
  std::atomic<int> arrived{0};
  std::mutex seenLock;
  std::set<std::thread::id> seen;
  std::vector<std::future<void>> ends;
  for (int job = 0; job < kAtOnce; ++job) {
    auto done = std::make_shared<std::promise<void>>();
    ends.push_back(done->get_future());
    threads.Run([&, done] {
      {
        const std::lock_guard<std::mutex> hold(seenLock);
        seen.insert(std::this_thread::get_id());
      }
      ++arrived;
      while (arrived < kAtOnce) std::this_thread::yield();
      done->set_value();
    });
  }
  for (auto& end : ends) ASSERT_EQ(end.wait_for(15s), std::future_status::ready);
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kAtOnce));
  EXPECT_EQ(seen.count(first), 1u);
  EXPECT_TRUE(Eventually([&] { return threads.IdleThreads() == kAtOnce; }));
  EXPECT_EQ(threads.Threads(), static_cast<std::size_t>(kAtOnce));
}

TEST(WatcherThreadsTest, AThreadWithoutAJobForItsIdleLifetimeEndsAndIsNoLongerCountedOn) {
  static WatcherThreads threads(50ms);  // destroyed at exit, when its threads have ended
  // The second job would never run if it were handed to the thread that ended.
  for (int job = 0; job < 2; ++job) {
    ASSERT_NE(RunAndWait(threads), std::thread::id()) << job;
    EXPECT_TRUE(Eventually([&] { return threads.Threads() == 0; }, 5s)) << job;
    EXPECT_EQ(threads.IdleThreads(), 0u) << job;
  }
}

// A job counts from Run until it has returned, also while it waits to be taken up by the
// thread it was handed to.
TEST(WatcherThreadsTest, UnfinishedJobsCountsEveryJobFromItsRunUntilItReturns) {
  static WatcherThreads* const longLived = new WatcherThreads(1h);  // as above
  WatcherThreads& threads = *longLived;
  EXPECT_EQ(threads.UnfinishedJobs(), 0u);
  // The first job goes to a new thread, the second to the same thread waiting for one.
  for (int job = 0; job < 2; ++job) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    threads.Run([released] { released.wait(); });
    EXPECT_EQ(threads.UnfinishedJobs(), 1u) << job;
    release.set_value();
    EXPECT_TRUE(Eventually([&] { return threads.UnfinishedJobs() == 0; })) << job;
    EXPECT_EQ(threads.Threads(), 1u) << job;
  }
}

}  // namespace
}  // namespace hvs::tasktest
