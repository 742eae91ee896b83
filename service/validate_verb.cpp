// "/validate": each task file loaded by the service's loader, and what stands in its way.
#include <set>
#include <string>
#include <vector>

#include "service/admin_verbs.h"
#include "service/trial_load.h"

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

// What the service would do with a task that loads but that is probably not meant so.
std::vector<std::string> Doubts(const TrialLoad& trial) {
  const Task& task = *trial.task;
  std::vector<std::string> doubts;
  if (!trial.definition->waitPeriodSeconds)
    doubts.push_back("WaitPeriodSeconds is missing: the task is due at every tick");
  else if (task.WaitPeriodSeconds <= 0)
    doubts.push_back("WaitPeriodSeconds is " + std::to_string(task.WaitPeriodSeconds) +
                     ", not positive: the task is due at every tick");
  if (const auto limit = trial.definition->timeLimitSeconds; limit && *limit <= 0)
    doubts.push_back("TimeLimitSeconds is " + std::to_string(*limit) +
                     ", not positive: the task's runs have no time limit");
  if (task.Name.empty())
    doubts.push_back("Name is missing or empty: the task's values sit in the program's own key");
  if (task.Command.empty()) doubts.push_back("Command is missing or empty: nothing can start");
  return doubts;
}

// Prints the file's block; true when it loads.
bool Check(TrialLoader& loader, const FileToCheck& file, std::ostream& out) {
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
  return loaded;
}

}  // namespace

int ValidateTaskFiles(const std::string& programDirectory, const std::vector<std::string>& files,
                      std::ostream& out, std::ostream& err) {
  if (const platform::Error error = ReportUnusableRegistry(err)) return static_cast<int>(error);
  TrialLoader loader(programDirectory);
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
  for (const FileToCheck& file : toCheck)
    if (!Check(loader, file, out)) ++failed;
  if (!toCheck.empty())
    out << "Files checked: " << toCheck.size() << "; loading: " << toCheck.size() - failed
        << "; not loading: " << failed << "\n";
  return failed == 0 ? 0 : kValidateFailed;
}

}  // namespace hvs
