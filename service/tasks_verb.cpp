// "/tasks": what the service would make of each task file, read without changing anything.
#include <algorithm>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "log/log_file.h"
#include "platform/strings.h"
#include "service/admin_verbs.h"
#include "service/trial_load.h"
#include "tasks/run_outcome.h"
#include "tasks/running_elsewhere.h"

namespace hvs {

namespace {

// "2026-12-08 18:30:12", local time; the number itself when it cannot be converted.
std::string LocalTimeText(std::int64_t time) {
  std::tm local{};
  char text[32];
  if (!platform::ToLocalTime(time, local) ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0)
    return std::to_string(time) + " (seconds since 1970)";
  return text;
}

// A value from a task file may hold control characters: shown escaped, as in the log.
void Field(std::ostream& out, const char* label, const std::string& value) {
  out << "  " << label << std::string(12 - std::char_traits<char>::length(label), ' ')
      << ShowControlCharacters(value) << "\n";
}

std::string LastRunText(const Task& task) {
  return task.LastRun == 0 ? "never" : LocalTimeText(task.LastRun);
}

// The first tick at which the catalogue's due test holds.
std::string NextDueText(const Task& task, std::int64_t now) {
  if (!task.Enabled) return "never: the task is disabled";
  const std::optional<std::int64_t> due = task.NextDue();
  if (!due) return "never";
  return *due <= now ? "now" : LocalTimeText(*due);
}

// The service looks for the executable named in the full command; the name is shown only
// where the masked command names the same one, so that no secret can come out through it.
// A program that runs has run at most since the task's last start, which the service
// records as it starts it; that time is shown beside it.
std::string RunningText(const Task& task, std::int64_t now) {
  const std::string name = ExecutableNameOf(task.RunCommand);
  const bool running = IsRunningElsewhere(task.RunCommand);
  std::string answer = running ? "yes" : "no";
  const std::string shown = ExecutableNameOf(task.DisplayCommand);
  if (shown == name && shown != task.DisplayCommand) answer += " (" + shown + ")";
  if (running && task.LastRun != 0 && now >= task.LastRun &&
      now - task.LastRun < std::int64_t{1} << 40)
    answer += ", for " + FormatDuration(static_cast<std::uint64_t>(now - task.LastRun) * 1000) +
              " since its last start";
  return answer;
}

// "up to 3, 5 min after a failed run".
std::string RetriesText(const Task& task) {
  const std::int32_t delay = std::max(task.RetryAfterSeconds, 0);
  return "up to " + std::to_string(task.RetryCount) + ", " +
         (delay == 0 ? std::string("at the next tick")
                     : FormatDuration(static_cast<std::uint64_t>(delay) * 1000)) +
         " after a failed run";
}

std::string WhyNot(const TrialLoad& trial) {
  if (trial.messages.empty()) return "no: the file holds no XML element";
  std::string reasons = "no: ";
  for (std::size_t i = 0; i < trial.messages.size(); ++i)
    reasons += (i ? "; " : "") + trial.messages[i];
  return reasons;
}

// "exit code 0 after 12 s": the last run's result as the service recorded it; empty when
// it has recorded none.
std::string LastResultText(Task& task) {
  SettingsStore& settings = task.context.settings();
  const std::string result = settings.GetTaskValue(task.Name, "LastResult", "");
  if (result.empty()) return result;
  const std::string duration = settings.GetTaskValue(task.Name, "LastDuration", "");
  if (duration.empty()) return result;
  const std::int64_t seconds = platform::Atoi64Value(duration);
  return seconds < 0 ? result
                     : result + " after " + FormatDuration(static_cast<std::uint64_t>(seconds) * 1000);
}

// "<path> (1234 bytes)": the last run's output file; empty while there is none.
std::string OutputText(const Task& task) {
  const std::string path = task.OutputPath();
  std::vector<platform::FileEntry> found;
  if (platform::FindFiles(path, found) != platform::kSuccess || found.empty() ||
      found.front().isDirectory)
    return {};
  return path + " (" + std::to_string(found.front().size) + " bytes)";
}

void PrintTask(std::ostream& out, const std::string& file, TrialLoad& trial, std::int64_t now) {
  out << file << "\n";
  if (!trial.definition) {
    Field(out, "Loads:", WhyNot(trial));
    return;
  }
  Task& task = *trial.task;
  Field(out, "Name:", task.Name.empty() ? "(none)" : task.Name);
  Field(out, "Loads:", "yes");
  if (task.Cron)
    Field(out, "Schedule:", task.Cron->Describe() + " (Cron " + task.Cron->Text() + ")");
  else
    Field(out, "Period:", std::to_string(task.WaitPeriodSeconds) + " seconds");
  if (!task.Enabled) Field(out, "Enabled:", "no: the task never starts");
  if (task.RetryCount > 0) Field(out, "Retries:", RetriesText(task));
  if (const std::int32_t limit = task.TimeLimitSeconds(); limit > 0)
    Field(out, "Time limit:", FormatDuration(static_cast<std::uint64_t>(limit) * 1000));
  Field(out, "Last run:", LastRunText(task));
  if (const std::string result = LastResultText(task); !result.empty())
    Field(out, "Result:", result);
  if (const std::string output = OutputText(task); !output.empty()) Field(out, "Output:", output);
  Field(out, "Next due:", NextDueText(task, now));
  Field(out, "ForceKill:", task.ForceKill ? "true" : "false");
  Field(out, "Running:", RunningText(task, now));
}

}  // namespace

int ListTasks(const std::string& programDirectory, std::ostream& out, std::ostream& err,
              const platform::Clock& clock) {
  if (const platform::Error error = ReportUnusableRegistry(err)) return static_cast<int>(error);
  TrialLoader loader(programDirectory, clock);
  const std::string config = loader.context().ConfigDirectory();
  std::vector<platform::FileEntry> files;
  if (const platform::Error error = loader.FindTaskFiles(files)) {
    ReportSearchFailure(err, config, error);
    return static_cast<int>(error);
  }
  if (files.empty()) {
    out << "No task files in " << config << ".\n";
    return 0;
  }
  out << "Task files in " << config << " (times are local):\n";
  loader.context().ReadDefaultTimeLimit();
  const std::int64_t now = clock.Now();
  for (const platform::FileEntry& file : files) {
    out << "\n";
    TrialLoad trial = loader.Load(file, platform::JoinPath(config, file.name));
    PrintTask(out, file.name, trial, now);
  }
  return 0;
}

}  // namespace hvs
