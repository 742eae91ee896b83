// "/validate": each task file loaded by the service's loader, and what stands in its way.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "service/admin_verbs.h"
#include "service/trial_load.h"
#include "tasks/wall_clock.h"

namespace hvs {

namespace {

struct FileToCheck {
  std::string label;  // as the user named it, or its name in Config
  std::string path;
  platform::FileEntry match;
};

// A file named on the command line, as the catalogue's search would have listed it.
FileToCheck Named(const std::string& path) {
  FileToCheck file{path, path, {}};
  const auto separator = path.rfind(platform::PathSeparator());
  file.match.name = separator == std::string::npos ? path : path.substr(separator + 1);
  return file;
}

// A value of Enabled that does not mean what it seems to, and retry values that do not
// make a retry or make it at once.
void EnabledAndRetryDoubts(const TaskDefinition& definition, std::vector<std::string>& doubts) {
  if (definition.enabled == "false")
    doubts.push_back("Enabled is false: the task never starts");
  else if (definition.enabled && *definition.enabled != "true")
    doubts.push_back("Enabled is \"" + *definition.enabled +
                     "\": only \"false\" switches the task off, so it is enabled");
  if (definition.retryCount && *definition.retryCount <= 0)
    doubts.push_back("RetryCount is " + std::to_string(*definition.retryCount) +
                     ", not positive: a failed run is not retried");
  else if (!definition.retryCount && definition.retryAfterSeconds)
    doubts.push_back("RetryCount is missing: a failed run is not retried");
  else if (definition.retryCount && !definition.retryAfterSeconds)
    doubts.push_back("RetryAfterSeconds is missing: a failed run is retried at the next tick");
  else if (definition.retryCount && *definition.retryAfterSeconds <= 0)
    doubts.push_back("RetryAfterSeconds is " + std::to_string(*definition.retryAfterSeconds) +
                     ", not positive: a failed run is retried at the next tick");
}

// What the service would do with a task that loads but that is probably not meant so.
std::vector<std::string> Doubts(const TrialLoad& trial) {
  const Task& task = *trial.task;
  const TaskDefinition& definition = *trial.definition;
  std::vector<std::string> doubts;
  if (task.Cron) {
    if (definition.waitPeriodSeconds)
      doubts.push_back("WaitPeriodSeconds is ignored: the Cron schedule decides when the task starts");
  } else if (!trial.definition->waitPeriodSeconds)
    doubts.push_back("WaitPeriodSeconds is missing: the task is due at every tick");
  else if (task.WaitPeriodSeconds <= 0)
    doubts.push_back("WaitPeriodSeconds is " + std::to_string(task.WaitPeriodSeconds) +
                     ", not positive: the task is due at every tick");
  if (const auto limit = trial.definition->timeLimitSeconds; limit && *limit <= 0)
    doubts.push_back("TimeLimitSeconds is " + std::to_string(*limit) +
                     ", not positive: the task's runs have no time limit");
  EnabledAndRetryDoubts(definition, doubts);
  if (task.Name.empty())
    doubts.push_back("Name is missing or empty: the task's values sit in the program's own key");
  if (task.Command.empty()) doubts.push_back("Command is missing or empty: nothing can start");
  return doubts;
}

// What a Cron schedule means: in words, and its next five start times after `now`.
void PrintStarts(const Task& task, std::int64_t now, std::ostream& out) {
  out << "  Cron " << task.Cron->Text() << ": " << task.Cron->Describe() << "\n";
  const Schedule schedule = task.schedule();
  int count = 0;
  for (std::optional<std::int64_t> start = now; count < 5 && (start = schedule.NextDue(*start));
       ++count) {
    const std::optional<std::int64_t> wall = WallTimeAt(*start);
    out << (count ? "" : "  Next starts (local time):\n") << "    "
        << (wall ? WallTimeText(*wall) : std::to_string(*start) + " (seconds since 1970)") << "\n";
  }
  if (count == 0)
    out << "  The Cron schedule never starts the task: no day in the next nine years matches\n";
}

// Prints the file's block; true when it loads.
bool Check(TrialLoader& loader, const FileToCheck& file, std::int64_t now, std::ostream& out) {
  const TrialLoad trial = loader.Load(file.match, file.path);
  const bool loaded = trial.definition.has_value();
  out << file.label << ": " << (loaded ? "loads" : "does not load") << "\n";
  // A name used twice in the command is reported once.
  std::set<std::string> said;
  for (const std::string& message : trial.messages)
    if (said.insert(message).second) out << "  " << message << "\n";
  if (!loaded && trial.messages.empty()) out << "  the file holds no XML element\n";
  if (loaded)
    for (const std::string& doubt : Doubts(trial)) out << "  " << doubt << "\n";
  if (loaded && trial.task->Cron) PrintStarts(*trial.task, now, out);
  return loaded;
}

}  // namespace

int ValidateTaskFiles(const std::string& programDirectory, const std::vector<std::string>& files,
                      std::ostream& out, std::ostream& err, const platform::Clock& clock) {
  if (const platform::Error error = ReportUnusableRegistry(err)) return static_cast<int>(error);
  TrialLoader loader(programDirectory, clock);
  std::vector<FileToCheck> toCheck;
  for (const std::string& path : files) toCheck.push_back(Named(path));
  if (files.empty()) {
    const std::string config = loader.context().ConfigDirectory();
    std::vector<platform::FileEntry> found;
    if (const platform::Error error = loader.FindTaskFiles(found)) {
      ReportSearchFailure(err, config, error);
      return static_cast<int>(error);
    }
    for (platform::FileEntry& entry : found)
      toCheck.push_back({entry.name, platform::JoinPath(config, entry.name), entry});
    if (toCheck.empty()) out << "No task files in " << config << ".\n";
  }

  std::size_t failed = 0;
  const std::int64_t now = clock.Now();
  for (const FileToCheck& file : toCheck)
    if (!Check(loader, file, now, out)) ++failed;
  if (!toCheck.empty())
    out << "Files checked: " << toCheck.size() << "; loading: " << toCheck.size() - failed
        << "; not loading: " << failed << "\n";
  return failed == 0 ? 0 : kValidateFailed;
}

}  // namespace hvs
