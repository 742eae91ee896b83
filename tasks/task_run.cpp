// One attempt to start a due task: substitution, the watcher's start, the log and LastRun.
#include <algorithm>
#include <cstdint>
#include <string>

#include "ntservice/event_ids.h"
#include "platform/eventlog.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "context/service_context.h"
#include "tasks/task.h"

namespace hvs {

namespace {

constexpr const char* kShowFullCommand = "ShowFullCommand";
constexpr const char* kLastRun = "LastRun";
constexpr const char* kLastResult = "LastResult";
constexpr const char* kLastDuration = "LastDuration";
constexpr const char* kSucceeded = "exit code 0";
constexpr const char* kEndedAtStop = "ended at stop";

}  // namespace

const std::string& Task::CommandToShow() {
  const std::string setting = context.settings().GetTaskValue(Name, kShowFullCommand, "0");
  return platform::AtoiValue(setting) == 1 ? RunCommand : DisplayCommand;
}

std::string EscapePercent(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    escaped += c;
    if (c == '%') escaped += '%';
  }
  return escaped;
}

void Task::RecordEndedRun() {
  const std::optional<RunOutcome> outcome = watcher.TakeOutcome();
  // A run left running at the stop has not ended: its last result stays as it was.
  if (!outcome || outcome->end == RunOutcome::End::kLeftRunning) return;
  SettingsStore& settings = context.settings();
  const std::string result = outcome->ResultText();
  // Monitoring hears of a change only, so a task failing at every tick makes one event.
  // No result yet counts as a success, and an end at the stop as neither.
  const auto failed = [](const std::string& text) {
    return !text.empty() && text != kSucceeded && text != kEndedAtStop;
  };
  const bool failedBefore = failed(settings.GetTaskValue(Name, kLastResult, kSucceeded));
  const bool failedNow = failed(result);
  if (failedNow) RetryIfAllowed();
  settings.SetTaskValue(Name, kLastResult, result);
  settings.SetTaskValue(Name, kLastDuration, std::to_string(outcome->milliseconds / 1000));
  if (failedNow && !failedBefore)
    context.ReportEvent(platform::kEventWarning, kEventTaskFailed, {Name, result});
  else if (failedBefore && result == kSucceeded)
    context.ReportEvent(platform::kEventInformation, kEventTaskSucceededAgain, {Name});
}

void Task::RetryIfAllowed() {
  if (retriesMade_ >= RetryCount) return;
  const std::int32_t delay = std::max(RetryAfterSeconds, 0);
  retryAt_ = context.clock().Now() + delay;
  context.log().LogFormat("Task '%s' will be retried in %d s (retry %d of %d).",
                          EscapePercent(Name).c_str(), delay, retriesMade_ + 1, RetryCount);
}

void Task::CountAttempt() {
  const bool retry = retryAt_ && !ScheduleIsDue(context.clock().Now());
  retriesMade_ = retry ? retriesMade_ + 1 : 0;
  retryAt_.reset();
}

void Task::Run() {
  LogFile& log = context.log();
  if (!Loaded) {
    log.LogFormat("Task '%s' cannot be run because it hasn't been loaded.", Name.c_str());
    return;
  }
  // The watcher would refuse anyway; asking first spares the registry reads of the
  // refresh, and a substitution's complaints, at every tick while the process runs.
  if (watcher.IsRunning()) return;
  // A watch may have ended since this tick recorded the ended runs; the start replaces it.
  RecordEndedRun();

  // The run's registry reads (variables, ShowFullCommand, the task's key before LastRun is
  // written) share one read transaction of the store instead of one each.
  const platform::RegistryReadBatch together;
  VariableTable& variables = context.variables();
  variables.Refresh();
  RunCommand = variables.Substitute(Command, DisplayCommand);
  // Whatever ShowFullCommand says: the output goes into a file that stays.
  OutputSecrets = variables.MaskedValues();

  // Logged as the watcher announces the start, so that its own line about a command that
  // cannot be started comes after this one.
  const auto announce = [this, &log] {
    log.LogFormat("Task '%s' run by command: %s", EscapePercent(Name).c_str(),
                  EscapePercent(CommandToShow()).c_str());
  };
  switch (watcher.Start(announce)) {
    case StartResult::AlreadyRunning:
      return;
    case StartResult::RunningElsewhere:
      CountAttempt();
      log.LogFormat("Task '%s' is already running outside of this service.",
                    EscapePercent(Name).c_str());
      // A refused attempt did not succeed either.
      RetryIfAllowed();
      break;
    case StartResult::Started:
      CountAttempt();
      break;
  }

  // The attempt counts, whatever became of it. The full 64-bit text: up to 2038 it is the
  // same text as the 32-bit one that older versions wrote and read.
  LastRun = context.clock().Now();
  context.settings().SetTaskValue(Name, kLastRun, std::to_string(LastRun));
}

}  // namespace hvs
