// Reloads of the Config directory into tasks, the due runs of each tick, the test at stop.
#include "tasks/task_catalogue.h"

#include <algorithm>
#include <vector>

#include "context/service_context.h"
#include "platform/memory.h"
#include "tasks/run_output.h"

namespace hvs {

TaskCatalogue::TaskCatalogue(ServiceContext& context)
    : context_(context), configDirectory_(context.ConfigDirectory()) {}

TaskCatalogue::~TaskCatalogue() {
  while (!tasks_.empty()) tasks_.erase(tasks_.begin());
}

void TaskCatalogue::Reload() {
  context_.log().RollOver();
  std::vector<platform::FileEntry> matches;
  // Room for as many files as last time: a reload allocates one block of the size that the
  // last one freed, where doubling would leave a larger heap behind after every reload.
  matches.reserve(tasks_.size());
  // A search that fails leaves no match, and so removes every task.
  platform::FindFiles(platform::JoinPath(configDirectory_, "*.xml"), matches);
  Kept kept;
  kept.reserve(matches.size());
  for (const platform::FileEntry& match : matches) Refresh(match, kept);
  RemoveAllBut(kept);
  noneDueUntil_ = EarliestDueAfter();
  SweepOutputFiles(matches);
  // The runs since the last reload freed their buffers on many threads.
  platform::ReleaseFreeMemory();
}

void TaskCatalogue::SweepOutputFiles(const std::vector<platform::FileEntry>& taskFiles) {
  constexpr std::int64_t kDay = 24 * 60 * 60;
  const std::int64_t now = context_.clock().Now();
  // A clock set back starts the day again.
  if (outputsSweptAt_ != std::numeric_limits<std::int64_t>::min() && now >= outputsSweptAt_ &&
      now - outputsSweptAt_ < kDay)
    return;
  outputsSweptAt_ = now;
  RemoveStaleOutputFiles(platform::JoinPath(context_.LogsDirectory(), kOutputFolder), taskFiles,
                         now - kLogRetentionSeconds);
}

void TaskCatalogue::Refresh(const platform::FileEntry& match, Kept& kept) {
  auto [entry, isNew] = tasks_.try_emplace(match.name);
  if (isNew) entry->second = std::make_unique<Task>(context_);
  Task& task = *entry->second;
  // Only a later time reloads: a file put back to an older copy keeps the newer definition.
  if (task.Loaded && match.lastWriteTime <= task.LastWriteTime) {
    kept.push_back(&task);
    return;
  }

  LogFile& log = context_.log();
  log.LogFormat("Loading task configuration file: %s", match.name.c_str());
  if (task.Load(match, platform::JoinPath(configDirectory_, match.name))) {
    log.LogFormat("Loaded task: %s", task.Name.c_str());
    kept.push_back(&task);
  } else {
    log.LogFormat("Task configuration file '%s' could not load.", match.name.c_str());
  }
}

void TaskCatalogue::RemoveAllBut(Kept& kept) {
  // Sorted by address for the lookups; a name the search returned twice counts once.
  std::sort(kept.begin(), kept.end());
  kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
  // Each kept task is in the map, so as many as there are tasks means all are kept: the
  // usual reload, which then costs no walk.
  if (kept.size() == tasks_.size()) return;
  for (auto entry = tasks_.begin(); entry != tasks_.end();) {
    if (std::binary_search(kept.begin(), kept.end(), entry->second.get())) {
      ++entry;
      continue;
    }
    context_.log().Log("Removing Task");
    entry = tasks_.erase(entry);
  }
}

std::int64_t TaskCatalogue::EarliestDueAfter() const {
  std::int64_t earliest = std::numeric_limits<std::int64_t>::max();
  for (const auto& [name, task] : tasks_) earliest = std::min(earliest, task->DueAfter());
  return earliest;
}

void TaskCatalogue::RecordEndedRuns() {
  const std::uint64_t ended = ProcessWatcher::EndedWatches();
  if (ended == recordedWatchEnds_) return;
  recordedWatchEnds_ = ended;
  for (auto& [name, task] : tasks_) {
    task->RecordEndedRun();
    // A failed run may have set a retry before the schedule's next time.
    noneDueUntil_ = std::min(noneDueUntil_, task->DueAfter());
  }
}

void TaskCatalogue::RunDueTasks(std::int64_t now) {
  RecordEndedRuns();
  // The earliest time stands for a sum that overflowed downwards, due at every time.
  if (now <= noneDueUntil_ && noneDueUntil_ != std::numeric_limits<std::int64_t>::min()) return;
  // A run moves its task's LastRun, so the next quiet time is taken after each one.
  std::int64_t earliest = std::numeric_limits<std::int64_t>::max();
  for (auto& [name, task] : tasks_) {
    if (task->IsDue(now)) task->Run();
    earliest = std::min(earliest, task->DueAfter());
  }
  noneDueUntil_ = earliest;
}

bool TaskCatalogue::AllFinished() const {
  return std::none_of(tasks_.begin(), tasks_.end(),
                      [](const auto& entry) { return entry.second->watcher.IsRunning(); });
}

}  // namespace hvs
