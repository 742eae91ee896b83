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
// fields (Name, Command, WaitPeriodSeconds, ForceKill) change only by a load.
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

  Schedule schedule() const { return Schedule(WaitPeriodSeconds); }
  // The file's TimeLimitSeconds, else the service's default; 0 or less: none.
  std::int32_t TimeLimitSeconds() const;
  // Stores how the latest run ended ("LastResult", "LastDuration") once its watch has
  // ended; nothing before, and nothing twice.
  void RecordEndedRun();
  // The schedule's due test at `now`, from this task's LastRun.
  bool IsDue(std::int64_t now) const { return schedule().IsDue(LastRun, now); }
  std::int64_t DueAfter() const { return schedule().DueAfter(LastRun); }
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
  bool ForceKill = false;
  std::optional<std::int32_t> TimeLimit;  // as the file gave it; empty: the default
  bool Loaded = false;
  platform::FileTime LastWriteTime = 0;
  std::int64_t LastRun = 0;

  ServiceContext& context;
  ProcessWatcher watcher;
};

// `text` with every "%" doubled, for use as a LogFormat argument.
std::string EscapePercent(std::string_view text);

}  // namespace hvs
