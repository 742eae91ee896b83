// The executable name of a command line, and the look-up of that name among the processes.
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
}  // namespace

std::string ExecutableNameOf(std::string_view command) {
  static const std::string pattern = ExecutableNamePattern();
  return MatchFirstGroup(pattern, command);
}

bool IsProcessRunning(const std::string& name) {
  bool found = false;
  // A list that cannot be read finds nothing, and the start goes ahead.
  platform::VisitRunningExecutables([&](const std::string& running) {
    found = platform::CompareNoCase(name, running) == 0;
    return found;
  });
  return found;
}

}  // namespace hvs
