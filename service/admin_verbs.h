// The program's own verbs beside the service framework's: "/tasks" and "/validate [file ...]".
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

struct AdminCommand {
  enum class Verb { kNone, kTasks, kValidate };
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
// for a file that loads its Name, period, last run and next due time (local time),
// ForceKill and whether its executable runs now; for one that does not, why. 0, or the
// error code when Config cannot be searched.
int ListTasks(const std::string& programDirectory, std::ostream& out, std::ostream& err,
              const platform::Clock& clock = platform::SystemClock());

// "/validate": loads each of `files` (none: every task file of Config) with the service's
// loader and reports, per file, whether it loads and what the loader said (parse errors
// with their byte offset, unknown nodes, undefined variables), then a missing or
// non-positive period and an empty Name or Command. 0 when every file loads, else
// kValidateFailed; the error code when Config cannot be searched.
int ValidateTaskFiles(const std::string& programDirectory, const std::vector<std::string>& files,
                      std::ostream& out, std::ostream& err);

}  // namespace hvs
