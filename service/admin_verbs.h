// The program's own verbs beside the service framework's: "/tasks", "/validate [file ...]"
// and "/run <task>".
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/error.h"

namespace hvs {

// Exit code of /validate when a file does not load (ERROR_INVALID_DATA).
inline constexpr int kValidateFailed = static_cast<int>(platform::kInvalidData);
// Exit codes of /run of its own: no task of that name (ERROR_FILE_NOT_FOUND), no single
// task named (ERROR_INVALID_PARAMETER), the program runs elsewhere (ERROR_BUSY), the run
// exceeded its time limit and was ended (ERROR_TIMEOUT).
inline constexpr int kRunNoSuchTask = static_cast<int>(platform::kFileNotFound);
inline constexpr int kRunUsage = static_cast<int>(platform::kInvalidParameter);
inline constexpr int kRunRefused = static_cast<int>(platform::kBusy);
inline constexpr int kRunTimedOut = 1460;

struct AdminCommand {
  enum class Verb { kNone, kTasks, kValidate, kRun };
  Verb verb = Verb::kNone;
  std::vector<std::string> files;  // the operands, as written
  bool silent = false;             // "/silent": no message of the verb's own failures
};

// Reads the process arguments (the program path first) by the framework's rules: a
// switch is a word after one "/" or "-", verbs match as whole words in any case, and the
// last verb wins, so "/tasks /stop" stops the service while "/stop /tasks" lists the
// tasks. Every argument that is neither a verb nor a switch or option the framework
// knows is an operand, kept as written, so that "/etc/x.xml" names a file.
AdminCommand ParseAdminCommand(const std::vector<std::string>& arguments);

// Carries out a command whose verb is not kNone for the program in `programDirectory`
// and returns the exit code. Reports go to `out`; failures of the verb itself to `err`.
// Nothing is started or written: no directory, no registry key or value, no log line.
int RunAdminCommand(const AdminCommand& command, const std::string& programDirectory,
                    std::ostream& out, std::ostream& err);

// "/tasks": one block per task file of Config, in the catalogue's order: the file, and
// for a file that loads its Name, period or Cron schedule in words, whether it is
// disabled, its retries, last run and next due time (local time), ForceKill and whether
// its executable runs now; for one that does not, why. 0, or the error code when Config
// cannot be searched.
int ListTasks(const std::string& programDirectory, std::ostream& out, std::ostream& err,
              const platform::Clock& clock = platform::SystemClock());

// "/validate": loads each of `files` (none: every task file of Config) with the service's
// loader and reports, per file, whether it loads and what the loader said (parse errors
// with their byte offset, unknown nodes, undefined variables), then a missing or
// non-positive period, doubtful Enabled and retry values, an empty Name or Command, and
// a Cron schedule's meaning and next five start times after the clock's now. 0 when every
// file loads, else kValidateFailed; the error code when Config cannot be searched.
int ValidateTaskFiles(const std::string& programDirectory, const std::vector<std::string>& files,
                      std::ostream& out, std::ostream& err,
                      const platform::Clock& clock = platform::SystemClock());

// "/run <task>": the task whose file name (with or without ".xml") or Name is `task`, run
// once now as the service would run it (loader, variables, substitution, running-elsewhere
// check, time limit) but in this console: its output comes here, and its start and end
// lines go to `out`. Writes no registry value and no log line. The task's own exit code
// (128 + the signal for one ended by a signal); kValidateFailed when its file does not
// load, kRunNoSuchTask, kRunRefused, kRunTimedOut, or the system's error when it could not
// be started.
int RunTaskOnce(const std::string& programDirectory, const std::string& task, std::ostream& out,
                std::ostream& err);

}  // namespace hvs
