// The executable name of a command line, and the look-up of that name among the processes.
#include "tasks/running_elsewhere.h"

#include "config/match_first_group.h"
#include "platform/process.h"
#include "platform/strings.h"

namespace hvs {

namespace {
// The one `\\` is a literal backslash: the name follows the last one that precedes a name.
constexpr std::string_view kExecutableNamePattern = R"(^(?:.*\\)?(\w+\.(?:exe|bat)).*)";
}  // namespace

std::string ExecutableNameOf(std::string_view command) {
  return MatchFirstGroup(kExecutableNamePattern, command);
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
