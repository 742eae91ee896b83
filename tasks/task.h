// One task: the fields of its definition file, its run record and its process watcher.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "tasks/process_watcher.h"

namespace hvs {

class ServiceContext;

// A plain record owned by the catalogue, one per definition file. The catalogue creates
// it for a new file name and loads it at once; the main loop's offers run it when due.
// Used from the service thread only; the watcher's thread works on copies of its own.
class Task {
 public:
  // `context` is not owned and outlives the task.
  explicit Task(ServiceContext& context);
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;

  // Fills the task from the file that the catalogue's search found (`match`, whose full
  // path is `path`) and reads LastRun from the settings store; returns Loaded.
  bool Load(const platform::FileEntry& match, const std::string& path);

  // now > LastRun + WaitPeriodSeconds, in signed 64-bit arithmetic; a sum beyond the
  // 64-bit range is never due when it overflows upwards and always due downwards.
  bool IsDue(std::int64_t now) const;
  // LastRun + WaitPeriodSeconds, saturated at the 64-bit range: the task is due at every
  // time after this one.
  std::int64_t DueAfter() const;
  // One attempt to start the task: substitutes its command, starts it unless its process
  // still runs or its executable runs elsewhere, logs and records LastRun.
  void Run();

  std::string FileName;        // definition file without directory: the catalogue's key
  std::string FilePath;        // full path of the definition file
  std::string FileText;        // the bytes read, parsed in place; empty again after the parse
  std::string Name;            // names the registry subkey and appears in messages
  std::string Command;         // as written, with %NAME% references
  std::string DisplayCommand;  // substituted, secrets masked: for the log
  std::string RunCommand;      // substituted: what is started
  std::int32_t WaitPeriodSeconds = 0;
  bool ForceKill = false;
  bool Loaded = false;
  platform::FileTime LastWriteTime = 0;
  std::int64_t LastRun = 0;

  ServiceContext& context;
  ProcessWatcher watcher;

 private:
  bool Parse();
};

// `text` with every "%" doubled, for use as a LogFormat argument.
std::string EscapePercent(std::string_view text);

}  // namespace hvs
