// Whether the program a task runs is already running somewhere on the machine.
#pragma once

#include <string>
#include <string_view>

namespace hvs {

// The file name of the executable that `command` runs: a word-character name ending in
// ".exe" or ".bat" (lower case) at the start of the command or right after its last
// path separator (the platform's) that is followed by one. Without such a name, the whole
// command.
std::string ExecutableNameOf(std::string_view command);

// True when some running process's executable has the base name `name`, compared without
// regard to case. False when no process has it, and when the processes cannot be listed.
bool IsProcessRunning(const std::string& name);

// True when the program that `command` starts already runs in some process, as the
// platform finds it (platform::FindRunningProgram); where the platform knows running
// programs only by name (Windows), when IsProcessRunning(ExecutableNameOf(command)).
bool IsRunningElsewhere(const std::string& command);

}  // namespace hvs
