// The threads the process watchers run on: a finished watch's thread waits a while for the
// next one instead of ending.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace hvs {

// Runs each job on a thread of its own, as a new detached thread would, but hands a thread
// whose job has returned the next job that comes within `idleLifetime`; after that it ends.
// Tasks that run every few seconds then cost no thread creation and no stack release per
// start. A thread never runs two jobs at once, and a job never waits for another to end.
class WatcherThreads {
 public:
  explicit WatcherThreads(std::chrono::milliseconds idleLifetime);
  // Only for a set whose threads have all ended: Threads() 0, and a moment for the last one
  // to leave its lock.
  ~WatcherThreads() = default;
  WatcherThreads(const WatcherThreads&) = delete;
  WatcherThreads& operator=(const WatcherThreads&) = delete;

  // The set the watchers use. Never destroyed: its waiting threads may outlive any owner,
  // up to the process's end.
  static WatcherThreads& Shared();

  // Runs `job`, which must not throw, on a waiting thread, or on a new one when none waits.
  // Throws std::system_error when no thread can be made; `job` is not run then.
  void Run(std::function<void()> job);

  // Threads that have finished their job and wait for another.
  std::size_t IdleThreads() const;
  // Threads that run a job or wait for one; one that has ended no longer counts.
  std::size_t Threads() const;
  // Jobs handed to Run that have not returned yet, those not yet taken up included. Once
  // it reads 0, whatever the jobs did happened before the read.
  std::size_t UnfinishedJobs() const;

 private:
  // A thread's life: its first job, then every job handed to it while it waits.
  void Serve(std::function<void()> job);

  const std::chrono::milliseconds idleLifetime_;
  mutable std::mutex lock_;
  std::condition_variable handedOut_;
  std::deque<std::function<void()>> waitingJobs_;  // never more than idle_ of them
  std::size_t idle_ = 0;                           // threads waiting for a job
  std::size_t threads_ = 0;                        // all of them, idle or not
};

}  // namespace hvs
