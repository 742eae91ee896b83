// The start of a task's process and the detached thread that waits on it.
#include "tasks/process_watcher.h"

#include <atomic>
#include <exception>
#include <string>
#include <thread>

#include "platform/event.h"
#include "platform/process.h"
#include "tasks/running_elsewhere.h"
#include "tasks/stop_event.h"
#include "tasks/task.h"

namespace hvs {

// Everything one start's thread touches. Written before the thread exists and read-only
// for it afterwards, except `running`, which the thread clears as its very last access.
struct ProcessWatcher::Watch {
  std::string command;
  bool forceKill = false;
  std::shared_ptr<const platform::Event> stop;
  std::atomic<bool> running{true};
};

namespace {

using WaitResult = platform::Process::WaitResult;

// Without the service's stop event the process is still waited for, so that the task
// does not read as finished while it runs; it just never sees a stop.
std::shared_ptr<const platform::Event> StopEventOrPrivateOne() {
  if (auto stop = CurrentStopEvent()) return stop;
  auto never = std::make_shared<platform::Event>();
  never->Create("");
  return never;
}

// The process is let go when `process` goes out of scope: one still running then runs on
// by itself. An exception would end the whole service from this thread; one can only come
// before the process exists (out of memory), and then the process is simply not started.
void CreateAndWait(const std::string& command, bool forceKill,
                   const platform::Event& stop) noexcept {
  try {
    platform::Process process;
    if (process.Create(command) != platform::kSuccess) return;
    // A failed wait counts as the process's end: nothing is killed.
    if (process.WaitWith(stop) == WaitResult::EventSet && forceKill) process.Terminate(1);
  } catch (const std::exception&) {
  }
}

}  // namespace

ProcessWatcher::ProcessWatcher(Task& owner) : owner_(owner) {}

ProcessWatcher::~ProcessWatcher() = default;

bool ProcessWatcher::IsRunning() const { return watch_ && watch_->running; }

StartResult ProcessWatcher::Start() {
  if (IsRunning()) return StartResult::AlreadyRunning;
  if (IsProcessRunning(ExecutableNameOf(owner_.RunCommand))) return StartResult::RunningElsewhere;

  // Marked running before the thread exists: neither a second Start nor the all-finished
  // test at stop may see the task idle while its thread is still on its way.
  auto watch = std::make_shared<Watch>();
  watch->command = owner_.RunCommand;
  watch->forceKill = owner_.ForceKill;
  watch->stop = StopEventOrPrivateOne();
  watch_ = watch;
  try {
    std::thread([watch] {
      CreateAndWait(watch->command, watch->forceKill, *watch->stop);
      watch->running = false;
    }).detach();
  } catch (const std::exception&) {
    // No thread: nothing was started, and the next attempt comes a period later.
    watch_->running = false;
  }
  return StartResult::Started;
}

}  // namespace hvs
