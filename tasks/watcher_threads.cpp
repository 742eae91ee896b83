// Watcher threads that take the next watch instead of ending.
#include "tasks/watcher_threads.h"

#include <thread>
#include <utility>

namespace hvs {

namespace {
// Long enough to carry a thread from one tick's starts to the next ones.
constexpr std::chrono::seconds kSharedIdleLifetime{10};
}  // namespace

WatcherThreads::WatcherThreads(std::chrono::milliseconds idleLifetime)
    : idleLifetime_(idleLifetime) {}

WatcherThreads& WatcherThreads::Shared() {
  static WatcherThreads* const shared = new WatcherThreads(kSharedIdleLifetime);
  return *shared;
}

void WatcherThreads::Run(std::function<void()> job) {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    // Each waiting job has a waiting thread of its own, so none waits for a job to end.
    if (waitingJobs_.size() < idle_) {
      waitingJobs_.push_back(std::move(job));
      handedOut_.notify_one();
      return;
    }
    ++threads_;  // before the new thread can end and count itself out
  }
  try {
    std::thread([this, first = std::move(job)]() mutable { Serve(std::move(first)); }).detach();
  } catch (...) {
    const std::lock_guard<std::mutex> hold(lock_);
    --threads_;
    throw;
  }
}

std::size_t WatcherThreads::IdleThreads() const {
  const std::lock_guard<std::mutex> hold(lock_);
  return idle_;
}

std::size_t WatcherThreads::Threads() const {
  const std::lock_guard<std::mutex> hold(lock_);
  return threads_;
}

std::size_t WatcherThreads::UnfinishedJobs() const {
  const std::lock_guard<std::mutex> hold(lock_);
  // Each waiting job is still counted among the idle threads, by the thread it went to.
  return threads_ - idle_ + waitingJobs_.size();
}

void WatcherThreads::Serve(std::function<void()> job) {
  for (;;) {
    job();
    job = nullptr;  // what the job holds goes with it, not with the next one
    std::unique_lock<std::mutex> hold(lock_);
    ++idle_;
    const bool handed =
        handedOut_.wait_for(hold, idleLifetime_, [this] { return !waitingJobs_.empty(); });
    --idle_;
    if (!handed) {
      --threads_;
      return;
    }
    job = std::move(waitingJobs_.front());
    waitingJobs_.pop_front();
  }
}

}  // namespace hvs
