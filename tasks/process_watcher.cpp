// The start of a task's process and the detached thread that waits on it.
#include "tasks/process_watcher.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <string>

#include "context/service_context.h"
#include "platform/error_text.h"
#include "platform/manual_reset_event.h"
#include "platform/process.h"
#include "tasks/running_elsewhere.h"
#include "tasks/stop_event.h"
#include "tasks/task.h"
#include "tasks/watcher_threads.h"

namespace hvs {

// Everything one start's thread touches. Written before the thread exists and read-only
// for it afterwards, except `log`, which the watcher clears when the task goes, and
// `running`, which the thread clears as its very last access.
struct ProcessWatcher::Watch {
  std::string command;
  bool forceKill = false;
  std::shared_ptr<const platform::ManualResetEvent> stop;
  std::string escapedName;  // the task's Name, "%" doubled
  std::mutex reportLock;    // guards `log`; held by Start until the start is announced
  LogFile* log = nullptr;   // null once the task is gone
  std::atomic<bool> running{true};

  // Logs that the process could not be created, unless the task is gone.
  void ReportFailedStart(platform::Error error) noexcept;
};

namespace {

using WaitResult = platform::Process::WaitResult;

// Without the service's stop event the process is still waited for, so that the task
// does not read as finished while it runs; it just never sees a stop.
std::shared_ptr<const platform::ManualResetEvent> StopEventOrPrivateOne() {
  if (auto stop = CurrentStopEvent()) return stop;
  auto never = std::make_shared<platform::ManualResetEvent>();
  never->Create("");
  return never;
}

// The process is let go when `process` goes out of scope: one still running then runs on
// by itself. An exception would end the whole service from this thread; one can only come
// before the process exists (out of memory), and then the process is simply not started.
// The result is the error of the creation; 0 once the process has been created.
platform::Error CreateAndWait(const std::string& command, bool forceKill,
                              const platform::ManualResetEvent& stop) noexcept {
  try {
    platform::Process process;
    if (const platform::Error failed = process.Create(command)) return failed;
    // A failed wait counts as the process's end: nothing is killed.
    if (process.WaitWith(stop) == WaitResult::EventSet && forceKill) process.Terminate(1);
    return platform::kSuccess;
  } catch (const std::exception&) {
    return platform::kNotEnoughMemory;
  }
}

// The system's text for `error` without its line end; the number where it has none.
std::string ErrorText(platform::Error error) {
  std::string text = platform::SystemErrorText(error);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  return text.empty() ? "error " + std::to_string(error) : text;
}

}  // namespace

// Otherwise the start would pass for a success: the task run has logged it as started.
void ProcessWatcher::Watch::ReportFailedStart(platform::Error error) noexcept {
  try {
    const std::string text = EscapePercent(ErrorText(error));
    const std::lock_guard<std::mutex> hold(reportLock);
    if (log != nullptr)
      log->LogFormat("Task '%s' could not be started: %s", escapedName.c_str(), text.c_str());
  } catch (const std::exception&) {
  }
}

ProcessWatcher::ProcessWatcher(Task& owner) : owner_(owner) {}

ProcessWatcher::~ProcessWatcher() {
  if (!watch_) return;
  // Waits for a report under way; the log may go soon after the task.
  const std::lock_guard<std::mutex> hold(watch_->reportLock);
  watch_->log = nullptr;
}

bool ProcessWatcher::IsRunning() const { return watch_ && watch_->running; }

StartResult ProcessWatcher::Start(const std::function<void()>& announce) {
  if (IsRunning()) return StartResult::AlreadyRunning;
  if (IsProcessRunning(ExecutableNameOf(owner_.RunCommand))) return StartResult::RunningElsewhere;

  // Marked running before the thread exists: neither a second Start nor the all-finished
  // test at stop may see the task idle while its thread is still on its way.
  auto watch = std::make_shared<Watch>();
  watch->command = owner_.RunCommand;
  watch->forceKill = owner_.ForceKill;
  watch->stop = StopEventOrPrivateOne();
  watch->escapedName = EscapePercent(owner_.Name);
  watch->log = &owner_.context.log();
  watch_ = watch;
  // The thread's report of a failed creation waits for the announcement of the start.
  const std::lock_guard<std::mutex> announcing(watch->reportLock);
  try {
    WatcherThreads::Shared().Run([watch] {
      // Reported before the mark is cleared, so the stop's wait for the tasks covers it.
      if (const platform::Error failed =
              CreateAndWait(watch->command, watch->forceKill, *watch->stop))
        watch->ReportFailedStart(failed);
      watch->running = false;
    });
  } catch (const std::exception&) {
    // No thread: nothing was started, and the next attempt comes a period later.
    watch_->running = false;
  }
  if (announce) announce();
  return StartResult::Started;
}

}  // namespace hvs
