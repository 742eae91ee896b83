// Reloads of the Config directory into tasks, the offers of each tick, the test at stop.
#include "tasks/task_catalogue.h"

#include <algorithm>
#include <vector>

#include "context/service_context.h"

namespace hvs {

TaskCatalogue::TaskCatalogue(ServiceContext& context)
    : context_(context), configDirectory_(context.ConfigDirectory()) {}

TaskCatalogue::~TaskCatalogue() {
  while (!tasks_.empty()) tasks_.erase(tasks_.begin());
}

void TaskCatalogue::Reload() {
  context_.log().RollOver();
  std::set<std::string> seen;
  std::vector<platform::FileEntry> matches;
  // A search that fails leaves no match, and so removes every task.
  platform::FindFiles(platform::JoinPath(configDirectory_, "*.xml"), matches);
  for (const platform::FileEntry& match : matches) Refresh(match, seen);
  RemoveAllBut(seen);
}

void TaskCatalogue::Refresh(const platform::FileEntry& match, std::set<std::string>& seen) {
  auto [entry, isNew] = tasks_.try_emplace(match.name);
  if (isNew) entry->second = std::make_unique<Task>(context_);
  Task& task = *entry->second;
  // Only a later time reloads: a file put back to an older copy keeps the newer definition.
  if (task.Loaded && match.lastWriteTime <= task.LastWriteTime) {
    seen.insert(match.name);
    return;
  }

  LogFile& log = context_.log();
  log.LogFormat("Loading task configuration file: %s", match.name.c_str());
  if (task.Load(match, platform::JoinPath(configDirectory_, match.name))) {
    log.LogFormat("Loaded task: %s", task.Name.c_str());
    seen.insert(match.name);
  } else {
    log.LogFormat("Task configuration file '%s' could not load.", match.name.c_str());
  }
}

void TaskCatalogue::RemoveAllBut(const std::set<std::string>& seen) {
  for (auto entry = tasks_.begin(); entry != tasks_.end();) {
    if (seen.contains(entry->first)) {
      ++entry;
      continue;
    }
    context_.log().Log("Removing Task");
    entry = tasks_.erase(entry);
  }
}

void TaskCatalogue::Offer(std::int64_t now) {
  for (auto& [name, task] : tasks_)
    if (task->IsDue(now)) task->Run();
}

bool TaskCatalogue::AllFinished() const {
  return std::none_of(tasks_.begin(), tasks_.end(),
                      [](const auto& entry) { return entry.second->watcher.IsRunning(); });
}

}  // namespace hvs
