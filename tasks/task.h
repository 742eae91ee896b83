// One task: its definition as loaded, its run record and its process watcher.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "tasks/output_masker.h"
#include "tasks/process_watcher.h"
#include "tasks/schedule.h"
#include "tasks/task_definition.h"

namespace hvs {

class ServiceContext;

// Owned by the catalogue, one per definition file. The catalogue creates it for a new file
// name and loads it at once; the main loop's tick runs it when due. The definition's
// fields (Name, Command, WaitPeriodSeconds, Cron, Enabled, the retries, ForceKill) change
// only by a load.
// Used from the service thread only; the watcher's thread works on copies of its own.
class Task {
 public:
  // `context` is not owned and outlives the task.
  explicit Task(ServiceContext& context);
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;

  // Reads the file that the catalogue's search found (`match`, whose full path is `path`),
  // applies what it defines, logging what the read and the parse said, and reads LastRun
  // from the settings store. The file's definition when it loaded (then Loaded is true),
  // else empty.
  std::optional<TaskDefinition> Load(const platform::FileEntry& match, const std::string& path);
  // Takes over every element that `definition` gives; the others keep their values.
  void Apply(const TaskDefinition& definition);

  // The period, or the Cron expression when the file gave one.
  Schedule schedule() const { return Schedule(WaitPeriodSeconds, Cron ? &*Cron : nullptr); }
  // The file's TimeLimitSeconds, else the service's default; 0 or less: none.
  std::int32_t TimeLimitSeconds() const;
  // Stores how the latest run ended ("LastResult", "LastDuration") once its watch has
  // ended; nothing before, and nothing twice. A run that ended in anything but exit code
  // 0 sets a retry when RetryCount allows one more.
  void RecordEndedRun();
  // Due at `now`: enabled, and the schedule's due test from this task's LastRun holds or a
  // retry's time has come. A Cron schedule's next time is evaluated once per LastRun.
  bool IsDue(std::int64_t now) const;
  // The task is due at every time after this one; the largest time: never.
  std::int64_t DueAfter() const;
  // The first second at which IsDue holds; empty when it never does.
  std::optional<std::int64_t> NextDue() const;
  // RunCommand where the task's "ShowFullCommand" is 1, else DisplayCommand, whose secrets
  // are masked. An absent setting is stored as "0" (unless the store is read-only).
  const std::string& CommandToShow();
  // One attempt to start the task: substitutes its command, starts it unless its process
  // still runs or its executable runs elsewhere, logs and records LastRun.
  void Run();
  // Where each run's output is kept: Logs\Output\<file name without .xml>.log.
  std::string OutputPath() const;

  std::string FileName;        // definition file without directory: the catalogue's key
  std::string FilePath;        // full path of the definition file
  std::string Name;            // names the registry subkey and appears in messages
  std::string Command;         // as written, with %NAME% references
  std::string DisplayCommand;  // substituted, secrets masked: for the log
  std::string RunCommand;      // substituted: what is started
  std::vector<Replacement> OutputSecrets;  // what the run's output may not show, as Run found it
  std::int32_t WaitPeriodSeconds = 0;
  std::optional<CronExpression> Cron;  // decides instead of the period when given
  bool Enabled = true;                 // false: loads, but is never due
  std::int32_t RetryAfterSeconds = 0;  // below 0 counts as 0
  std::int32_t RetryCount = 0;         // retries after a failed run; 0 or less: none
  bool ForceKill = false;
  std::optional<std::int32_t> TimeLimit;  // as the file gave it; empty: the default
  bool Loaded = false;
  platform::FileTime LastWriteTime = 0;
  std::int64_t LastRun = 0;

  ServiceContext& context;
  ProcessWatcher watcher;

 private:
  // What the schedule counts from: LastRun, or for a Cron task that has never run the
  // time of its load, so that it waits for its first scheduled time.
  std::int64_t ScheduledFrom() const;
  // The schedule's own DueAfter, without retries; a Cron schedule's is kept.
  std::int64_t ScheduleDueAfter() const;
  bool ScheduleIsDue(std::int64_t now) const;
  // After an attempt that did not end in exit code 0: the next retry, if one is left.
  void RetryIfAllowed();
  // A start or a refusal: a retry when one was due and the schedule was not.
  void CountAttempt();

  std::int64_t loadedAt_ = 0;
  // The retry that is due from this time on; cleared by the next attempt. Kept in memory
  // only: after a restart the task follows its schedule.
  std::optional<std::int64_t> retryAt_;
  std::int32_t retriesMade_ = 0;  // since the last scheduled attempt
  // A Cron schedule's DueAfter for the ScheduledFrom it was computed from.
  struct DueCache {
    bool valid = false;
    std::int64_t from = 0;
    std::int64_t dueAfter = 0;
  };
  mutable DueCache cronDue_;
};

// `text` with every "%" doubled, for use as a LogFormat argument.
std::string EscapePercent(std::string_view text);

}  // namespace hvs
