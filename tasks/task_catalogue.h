// The loaded tasks, one per definition file in Config, with their reload and their runs when due.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tasks/task.h"

namespace hvs {

class ServiceContext;

// Tasks keyed by their file name, in byte order (upper case before lower case); every
// walk goes in that order. Used from the service thread only.
class TaskCatalogue {
 public:
  using Tasks = std::map<std::string, std::unique_ptr<Task>>;

  // `context` is not owned and outlives the catalogue; its Config directory is taken now.
  explicit TaskCatalogue(ServiceContext& context);
  // Destroys the tasks in key order. Their processes, and watchers, are left running.
  ~TaskCatalogue();
  TaskCatalogue(const TaskCatalogue&) = delete;
  TaskCatalogue& operator=(const TaskCatalogue&) = delete;

  // Rolls the log over, then brings the tasks in line with Config\*.xml: loads new files
  // and files written since their last load, and removes the tasks whose file is gone or
  // did not load. A directory that cannot be searched counts as empty. Once a day it also
  // removes the old output files of task files that are gone (RemoveStaleOutputFiles). Ends
  // by handing the heap's free memory back to the system (platform::ReleaseFreeMemory).
  void Reload();
  // Runs every task due at `now` (seconds since 1970, UTC), in key order. Costs one
  // comparison while no task can be due yet, and a walk over the tasks otherwise.
  void RunDueTasks(std::int64_t now);
  // Stores the result of every run that has ended since the last call (Task::RecordEndedRun);
  // costs one comparison when none has. RunDueTasks does it first.
  void RecordEndedRuns();
  // True when no task's process is being watched; true for no tasks at all.
  bool AllFinished() const;

  const Tasks& tasks() const { return tasks_; }

 private:
  // The tasks that a reload keeps, in any order.
  using Kept = std::vector<const Task*>;

  // Loads the task of `match` when it is new, not loaded, or its file has been written
  // since; marks it as one to keep when it is loaded.
  void Refresh(const platform::FileEntry& match, Kept& kept);
  // Removes, in key order, every task that is not in `kept`.
  void RemoveAllBut(Kept& kept);
  // Removes the stale output files once a day, `taskFiles` being Config's task files.
  void SweepOutputFiles(const std::vector<platform::FileEntry>& taskFiles);
  // The smallest DueAfter of the tasks; the largest time when there is none.
  std::int64_t EarliestDueAfter() const;

  ServiceContext& context_;
  const std::string configDirectory_;
  Tasks tasks_;
  // No task is due at this time or before: the tasks' smallest DueAfter, kept up to date
  // by every reload, every run of the due tasks and every recording of ended runs (a
  // retry), the only operations that change it.
  std::int64_t noneDueUntil_ = std::numeric_limits<std::int64_t>::max();
  // When the output files were last swept; none yet at the smallest time.
  std::int64_t outputsSweptAt_ = std::numeric_limits<std::int64_t>::min();
  // ProcessWatcher::EndedWatches() when the ended runs were last recorded.
  std::uint64_t recordedWatchEnds_ = 0;
};

}  // namespace hvs
