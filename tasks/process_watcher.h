// Starts a task's command as a child process and watches it on a thread of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "tasks/run_outcome.h"

namespace hvs {

class Task;

enum class StartResult { AlreadyRunning = 0, Started = 1, RunningElsewhere = -1 };

// One per task, created and destroyed with it. Each start gives its thread a record of
// its own (command, forceKill, running flag, stop event, the task's name and log), held
// jointly with the watcher, so a task destroyed while its process runs leaves the thread
// on valid data. Start, IsRunning and TakeOutcome are for the service thread. A watcher
// thread logs how its run ended (RunOutcome::LogEnd), or that its process could not be
// created.
class ProcessWatcher {
 public:
  // `owner` gives RunCommand and ForceKill at each start; the watcher lives inside it.
  explicit ProcessWatcher(Task& owner);
  // Leaves a running process and its thread alone: the thread ends with the process or
  // at the stop event, as it would with the task still there. The thread no longer logs.
  ~ProcessWatcher();
  ProcessWatcher(const ProcessWatcher&) = delete;
  ProcessWatcher& operator=(const ProcessWatcher&) = delete;

  // AlreadyRunning while the previous start's watch has not ended; RunningElsewhere
  // when a process of the command's executable name runs on the machine. Otherwise
  // Started: copies the owner's RunCommand, ForceKill and time limit and the current stop
  // event, marks the watcher running and hands a watcher thread (WatcherThreads) the
  // watch: it creates the process in a group of its own and waits until it ends, its time
  // limit passes or the stop event is set; at the limit it ends the group (exit code 1),
  // at the stop too if forceKill, else lets it run on. The mark is cleared as the watch
  // ends, which is at once when the process cannot be created; when no thread can be
  // made it is cleared before the return. Without a stop event the thread waits for the
  // process alone. The process's output goes through a pipe into the owner's OutputPath
  // (RunOutput), with the owner's OutputSecrets masked; when the run ended in anything but
  // exit code 0 its last lines follow its end line, as "Task '<Name>' output: <line>".
  // A process that cannot be created is logged by the thread as "Task '<Name>' could not
  // be started: <system text>" (both with "%" doubled), unless the task is gone by then.
  // `announce`, when given, runs on the calling thread for a Started start before that
  // line can be written, so that a line about the start comes first.
  StartResult Start(const std::function<void()>& announce = nullptr);
  // True from a Start that returned Started until its watch has let go of the process.
  bool IsRunning() const;
  // Once, after the latest start's watch has ended: how its run ended. Empty before, after
  // the first call, and when the watch's wait failed or no thread could be made.
  std::optional<RunOutcome> TakeOutcome();
  // How many watches of any task have ended in this process so far: when it has not
  // changed, no TakeOutcome has anything new.
  static std::uint64_t EndedWatches();

 private:
  struct Watch;
  Task& owner_;
  std::shared_ptr<Watch> watch_;  // the latest start's record; null before the first
};

}  // namespace hvs
