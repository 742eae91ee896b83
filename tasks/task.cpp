// A task's construction and its load: the file's fields, LastRun and the substituted command.
#include "tasks/task.h"

#include <algorithm>
#include <limits>

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
  loadedAt_ = context.clock().Now();
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
  if (definition.cron) Cron = definition.cron;
  if (definition.enabled) Enabled = *definition.enabled != "false";
  if (definition.retryAfterSeconds) RetryAfterSeconds = *definition.retryAfterSeconds;
  if (definition.retryCount) RetryCount = *definition.retryCount;
  cronDue_.valid = false;
}

std::int64_t Task::ScheduledFrom() const { return Cron && LastRun == 0 ? loadedAt_ : LastRun; }

std::int64_t Task::ScheduleDueAfter() const {
  if (!Cron) return schedule().DueAfter(LastRun);
  const std::int64_t from = ScheduledFrom();
  if (!cronDue_.valid || cronDue_.from != from)
    cronDue_ = {true, from, schedule().DueAfter(from)};
  return cronDue_.dueAfter;
}

bool Task::IsDue(std::int64_t now) const {
  if (!Enabled) return false;
  return (retryAt_ && now >= *retryAt_) || ScheduleIsDue(now);
}

bool Task::ScheduleIsDue(std::int64_t now) const {
  // The period's own test keeps its edge: a sum below the range is due at every time.
  return Cron ? now > ScheduleDueAfter() : schedule().IsDue(LastRun, now);
}

std::int64_t Task::DueAfter() const {
  if (!Enabled) return std::numeric_limits<std::int64_t>::max();
  const std::int64_t scheduled = ScheduleDueAfter();
  return retryAt_ ? std::min(scheduled, *retryAt_ - 1) : scheduled;
}

std::optional<std::int64_t> Task::NextDue() const {
  if (!Enabled) return std::nullopt;
  std::optional<std::int64_t> next;
  if (!Cron)
    next = schedule().NextDue(LastRun);
  else if (const std::int64_t after = ScheduleDueAfter();
           after != std::numeric_limits<std::int64_t>::max())
    next = after + 1;
  if (retryAt_ && (!next || *retryAt_ < *next)) next = retryAt_;
  return next;
}

std::string Task::OutputPath() const {
  return platform::JoinPath(platform::JoinPath(context.LogsDirectory(), kOutputFolder),
                            OutputFileName(FileName));
}

std::int32_t Task::TimeLimitSeconds() const {
  return TimeLimit.value_or(context.defaultTimeLimitSeconds());
}

}  // namespace hvs
