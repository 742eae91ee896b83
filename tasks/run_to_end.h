// One run of a task's command from its start to its end, within its time limit and the stop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/manual_reset_event.h"
#include "platform/process.h"
#include "tasks/run_outcome.h"
#include "tasks/run_output.h"

namespace hvs {

// Starts `command` (in a group of its own unless `group` says otherwise) and waits until
// it ends, `timeLimitSeconds` pass (0 or less: never), or `stop` is set. At the limit, and
// at the stop when `forceKill`, it ends the group and waits for its first process; at the
// stop without `forceKill` it lets the process run on. Blocks the calling thread for as
// long. The outcome, with the end's kind, the exit status, the duration or the error of
// the start; empty when the wait itself failed, which counts as the process's end:
// nothing is killed then.
// With `output`, the process's standard output and error go through a pipe into it while
// the run lasts; what is there when the process ends is taken too, but nothing after:
// a process it left behind with the pipe does not hold the run. Without a pipe (none
// could be made) the process writes where this process does. The caller Finishes it.
std::optional<RunOutcome> RunToEnd(const std::string& command, bool forceKill,
                                   std::int32_t timeLimitSeconds,
                                   const platform::ManualResetEvent& stop,
                                   platform::Process::Group group = platform::Process::Group::kOwn,
                                   RunOutput* output = nullptr) noexcept;

// An event that is never set, made at its first use: a wait on it alone is a wait for the
// process. It is not open when the system could make none.
const platform::ManualResetEvent& NeverSet();

}  // namespace hvs
