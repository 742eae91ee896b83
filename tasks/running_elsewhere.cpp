// The executable name of a command line, and the look-up of a command's program among the processes.
#include "tasks/running_elsewhere.h"

#include "config/match_first_group.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/strings.h"

namespace hvs {

namespace {
// The name follows the last path separator that precedes a name. The separator is escaped,
// which a `\` must be and any other punctuation may be.
std::string ExecutableNamePattern() {
  return std::string(R"(^(?:.*\)") + platform::PathSeparator() + R"()?(\w+\.(?:exe|bat)).*)";
}

// A running executable is known by its base name: never empty, without a path separator
// of either kind, cut to the longest name the list reports. Any other text, such as a
// whole command with its path, matches no process, and the list need not be read for it.
bool CanNameARunningExecutable(const std::string& name) {
  const char separators[] = {'/', platform::PathSeparator(), '\0'};
  return !name.empty() && name.size() <= platform::kMaxExecutableNameLength &&
         name.find_first_of(separators) == std::string::npos;
}
}  // namespace

std::string ExecutableNameOf(std::string_view command) {
  static const std::string pattern = ExecutableNamePattern();
  return MatchFirstGroup(pattern, command);
}

bool IsProcessRunning(const std::string& name) {
  if (!CanNameARunningExecutable(name)) return false;
  bool found = false;
  // A list that cannot be read finds nothing, and the start goes ahead.
  platform::VisitRunningExecutables([&](const std::string& running) {
    found = platform::CompareNoCase(name, running) == 0;
    return found;
  });
  return found;
}

bool IsRunningElsewhere(const std::string& command) {
  switch (platform::FindRunningProgram(command)) {
    case platform::ProgramSearch::kRunning: return true;
    case platform::ProgramSearch::kNotRunning: return false;
    case platform::ProgramSearch::kByNameOnly: break;
  }
  return IsProcessRunning(ExecutableNameOf(command));
}

}  // namespace hvs
