// "/run <task>": one task run once, now, in the caller's console, without the service's log or registry writes.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "log/log_file.h"
#include "platform/strings.h"
#include "service/admin_verbs.h"
#include "service/trial_load.h"
#include "tasks/run_to_end.h"
#include "tasks/running_elsewhere.h"

namespace hvs {

namespace {

// The file named `task` (as it is, or with ".xml" added), else the first file in the
// catalogue's order whose Name is `task`; empty when none is.
std::optional<TrialLoad> FindTask(TrialLoader& loader, const std::vector<platform::FileEntry>& files,
                                  const std::string& task) {
  const std::string config = loader.context().ConfigDirectory();
  for (const std::string& name : {task, task + ".xml"})
    for (const platform::FileEntry& file : files)
      if (platform::CompareNoCase(file.name, name) == 0)
        return loader.Load(file, platform::JoinPath(config, file.name));
  for (const platform::FileEntry& file : files) {
    TrialLoad trial = loader.Load(file, platform::JoinPath(config, file.name));
    if (trial.definition && trial.task->Name == task) return trial;
  }
  return std::nullopt;
}

int ExitCodeOf(const RunOutcome& outcome) {
  switch (outcome.end) {
    case RunOutcome::End::kExited: return static_cast<int>(outcome.status.code);
    case RunOutcome::End::kSignalled: return 128 + outcome.status.signal;
    case RunOutcome::End::kTimeLimit: return kRunTimedOut;
    case RunOutcome::End::kNotStarted: return static_cast<int>(outcome.error);
    case RunOutcome::End::kStopped:
    case RunOutcome::End::kLeftRunning: break;  // no stop comes to a run in the console
  }
  return 1;
}

}  // namespace

int RunTaskOnce(const std::string& programDirectory, const std::string& name, std::ostream& out,
                std::ostream& err) {
  TrialLoader loader(programDirectory);
  ServiceContext& context = loader.context();
  const std::string config = context.ConfigDirectory();
  std::vector<platform::FileEntry> files;
  if (const platform::Error error = loader.FindTaskFiles(files)) {
    ReportSearchFailure(err, config, error);
    return static_cast<int>(error);
  }
  std::optional<TrialLoad> trial = FindTask(loader, files, name);
  if (!trial) {
    err << "No task file or task named '" << name << "' in " << config << ".\n";
    return kRunNoSuchTask;
  }
  for (const std::string& message : trial->messages) err << message << "\n";
  if (!trial->definition) return kValidateFailed;

  // The lines the service would log, here without their stamps and with "%" as it is.
  LogFile console(false);
  console.Divert([&out](std::string_view message) { out << EchoText(message) << "\n"; });
  Task& task = *trial->task;
  if (IsRunningElsewhere(task.RunCommand)) {
    console.LogFormat("Task '%s' is already running outside of this service.",
                      EscapePercent(task.Name).c_str());
    return kRunRefused;
  }
  context.ReadDefaultTimeLimit();
  console.LogFormat("Task '%s' run by command: %s", EscapePercent(task.Name).c_str(),
                    EscapePercent(task.CommandToShow()).c_str());
  out.flush();
  // In the console's own process group, so that Ctrl+C reaches the run as it reaches us.
  const std::optional<RunOutcome> outcome =
      RunToEnd(task.RunCommand, false, task.TimeLimitSeconds(), NeverSet(),
               platform::Process::Group::kShared);
  if (!outcome) return 1;
  if (outcome->end == RunOutcome::End::kNotStarted)
    console.LogFormat("Task '%s' could not be started: %s", EscapePercent(task.Name).c_str(),
                      EscapePercent(ErrorText(outcome->error)).c_str());
  else
    outcome->LogEnd(console, EscapePercent(task.Name));
  return ExitCodeOf(*outcome);
}

}  // namespace hvs
