// A task's construction and its load: the file's fields, LastRun and the substituted command.
#include "tasks/task.h"

#include "platform/strings.h"
#include "context/service_context.h"

namespace hvs {

Task::Task(ServiceContext& context) : context(context), watcher(*this) {}

bool Task::Load(const platform::FileEntry& match, const std::string& path) {
  FileName = match.name;
  FilePath = path;
  LastWriteTime = match.lastWriteTime;
  Loaded = Parse();
  // Also after a failed parse, under the Name held now: the registry wins over memory.
  // 64-bit, so that a run after 2038 reads back as itself; older 32-bit texts read the same.
  LastRun = platform::Atoi64Value(context.settings().GetTaskValue(Name, "LastRun", "0"));
  RunCommand = context.variables().Substitute(Command, DisplayCommand);
  return Loaded;
}

}  // namespace hvs
