// A task's construction and its load: the file's fields, LastRun and the substituted command.
#include "tasks/task.h"

#include "platform/strings.h"
#include "context/service_context.h"
#include "tasks/run_output.h"

namespace hvs {

Task::Task(ServiceContext& context) : context(context), watcher(*this) {}

std::optional<TaskDefinition> Task::Load(const platform::FileEntry& match,
                                         const std::string& path) {
  FileName = match.name;
  FilePath = path;
  LastWriteTime = match.lastWriteTime;
  std::optional<TaskDefinition> definition = ReadTaskDefinition(path, context.log());
  Loaded = definition.has_value();
  if (definition) Apply(*definition);
  // Also after a failed parse, under the Name held now: the registry wins over memory.
  // 64-bit, so that a run after 2038 reads back as itself; older 32-bit texts read the same.
  LastRun = platform::Atoi64Value(context.settings().GetTaskValue(Name, "LastRun", "0"));
  RunCommand = context.variables().Substitute(Command, DisplayCommand);
  return definition;
}

void Task::Apply(const TaskDefinition& definition) {
  if (definition.name) Name = *definition.name;
  if (definition.command) Command = *definition.command;
  if (definition.waitPeriodSeconds) WaitPeriodSeconds = *definition.waitPeriodSeconds;
  if (definition.forceKill) ForceKill = *definition.forceKill;
  if (definition.timeLimitSeconds) TimeLimit = definition.timeLimitSeconds;
}

std::string Task::OutputPath() const {
  return platform::JoinPath(platform::JoinPath(context.LogsDirectory(), kOutputFolder),
                            OutputFileName(FileName));
}

std::int32_t Task::TimeLimitSeconds() const {
  return TimeLimit.value_or(context.defaultTimeLimitSeconds());
}

}  // namespace hvs
