// The start of a task's process and the detached thread that waits on it.
#include "tasks/process_watcher.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "context/service_context.h"
#include "platform/manual_reset_event.h"
#include "tasks/run_output.h"
#include "tasks/run_to_end.h"
#include "tasks/running_elsewhere.h"
#include "tasks/stop_event.h"
#include "tasks/task.h"
#include "tasks/watcher_threads.h"

namespace hvs {

// Everything one start's thread touches. Written before the thread exists and read-only
// for it afterwards, except `log`, which the watcher clears when the task goes, `outcome`,
// which the thread writes before it clears `running` as its very last access, and
// `outcomeTaken`, the service thread's own once `running` is clear.
struct ProcessWatcher::Watch {
  std::string command;
  bool forceKill = false;
  std::int32_t timeLimitSeconds = 0;  // 0 or less: none
  std::shared_ptr<const platform::ManualResetEvent> stop;
  std::string escapedName;  // the task's Name, "%" doubled
  std::string outputPath;   // the run's output file
  std::vector<Replacement> outputSecrets;
  std::mutex reportLock;    // guards `log`; held by Start until the start is announced
  LogFile* log = nullptr;   // null once the task is gone
  std::atomic<bool> running{true};
  std::optional<RunOutcome> outcome;  // empty when the wait failed: the end is unknown
  bool outcomeTaken = false;

  // Runs the command to its end, keeping its output, and reports how it ended.
  void RunAndReport() noexcept;
  // Logs that the process could not be created, or how it ended and, when it failed, the
  // last lines of its output; and that the output could not be kept. Not once the task is
  // gone.
  void Report(const RunOutcome& ended, const RunOutput& output) noexcept;
};

namespace {

using End = RunOutcome::End;

// Counts the watches that have ended, for the service thread's cheap test of whether any
// outcome waits to be recorded.
std::atomic<std::uint64_t> gEndedWatches{0};

// Without the service's stop event the process is still waited for, so that the task
// does not read as finished while it runs; it just never sees a stop.
std::shared_ptr<const platform::ManualResetEvent> StopEventOrPrivateOne() {
  if (auto stop = CurrentStopEvent()) return stop;
  auto never = std::make_shared<platform::ManualResetEvent>();
  never->Create("");
  return never;
}

}  // namespace

// An exception here would end the service from a watcher thread; one can only come before
// the process exists (RunToEnd and the output's taking keep their own), and then nothing
// was started.
void ProcessWatcher::Watch::RunAndReport() noexcept {
  try {
    RunOutput output(outputPath, OutputMasker(std::move(outputSecrets)));
    outcome = RunToEnd(command, forceKill, timeLimitSeconds, *stop,
                       platform::Process::Group::kOwn, &output);
    output.Finish();
    if (outcome) Report(*outcome, output);
  } catch (const std::exception&) {
  }
}

// A start that failed would otherwise pass for a success: the task run has logged it as
// started.
void ProcessWatcher::Watch::Report(const RunOutcome& ended, const RunOutput& output) noexcept {
  try {
    const std::string text =
        ended.end == End::kNotStarted ? EscapePercent(ErrorText(ended.error)) : std::string();
    std::vector<std::string> lines;
    if (ended.Failed()) {
      for (const std::string& line : output.LastLines())
        lines.push_back(EscapePercent(ShowControlCharacters(line)));
    }
    const std::lock_guard<std::mutex> hold(reportLock);
    if (log == nullptr) return;
    if (ended.end == End::kNotStarted)
      log->LogFormat("Task '%s' could not be started: %s", escapedName.c_str(), text.c_str());
    else
      ended.LogEnd(*log, escapedName);
    for (const std::string& line : lines)
      log->LogFormat("Task '%s' output: %s", escapedName.c_str(), line.c_str());
    if (output.error() != platform::kSuccess)
      log->LogFormat("Task '%s' output could not be kept in %s: %s", escapedName.c_str(),
                     EscapePercent(output.path()).c_str(),
                     EscapePercent(ErrorText(output.error())).c_str());
  } catch (const std::exception&) {
  }
}

std::uint64_t ProcessWatcher::EndedWatches() { return gEndedWatches.load(); }

std::optional<RunOutcome> ProcessWatcher::TakeOutcome() {
  if (!watch_ || watch_->running || watch_->outcomeTaken) return std::nullopt;
  watch_->outcomeTaken = true;
  return watch_->outcome;
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
  if (IsRunningElsewhere(owner_.RunCommand)) return StartResult::RunningElsewhere;

  // Marked running before the thread exists: neither a second Start nor the all-finished
  // test at stop may see the task idle while its thread is still on its way.
  auto watch = std::make_shared<Watch>();
  watch->command = owner_.RunCommand;
  watch->forceKill = owner_.ForceKill;
  watch->timeLimitSeconds = owner_.TimeLimitSeconds();
  watch->stop = StopEventOrPrivateOne();
  watch->escapedName = EscapePercent(owner_.Name);
  watch->outputPath = owner_.OutputPath();
  watch->outputSecrets = owner_.OutputSecrets;
  watch->log = &owner_.context.log();
  watch_ = watch;
  // The thread's report of a failed creation waits for the announcement of the start.
  const std::lock_guard<std::mutex> announcing(watch->reportLock);
  try {
    WatcherThreads::Shared().Run([watch] {
      // Reported before the mark is cleared, so the stop's wait for the tasks covers it.
      watch->RunAndReport();
      watch->running = false;
      // After the mark: whoever sees the count change finds this watch ended.
      gEndedWatches.fetch_add(1);
    });
  } catch (const std::exception&) {
    // No thread: nothing was started, and the next attempt comes a period later.
    watch_->outcomeTaken = true;
    watch_->running = false;
  }
  if (announce) announce();
  return StartResult::Started;
}

}  // namespace hvs
