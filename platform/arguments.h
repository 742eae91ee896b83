// The arguments the running process was started with.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The process's arguments as its C runtime split them, the program path first. Windows:
// the runtime's own split of the command line (double quotes group words and are
// removed); POSIX: the words the process was executed with, which our process start
// splits by the same rules.
std::vector<std::string> ProcessArguments();

}  // namespace platform
