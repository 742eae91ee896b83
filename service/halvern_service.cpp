// The service's main loop: ticks, reloads, offers, pause and continue, and the stop sequence.
#include "service/halvern_service.h"

#include <algorithm>

#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "context/service_context.h"
#include "tasks/stop_event.h"
#include "tasks/task_catalogue.h"

namespace hvs {

namespace {
constexpr std::uint32_t kTickMilliseconds = 1000;
constexpr std::uint32_t kStopWaitHint = 1100;
constexpr std::uint32_t kLastStopCheckPoint = 10;
constexpr std::uint32_t kFinishedPollMilliseconds = 5;
}  // namespace

bool LoopEnvironment::WaitUntil(std::uint32_t milliseconds, const std::function<bool()>& done) {
  const std::uint32_t start = platform::TickCount();
  while (!done()) {
    const std::uint32_t elapsed = platform::TickCount() - start;  // wraps as the count does
    if (elapsed >= milliseconds) return false;
    platform::SleepMilliseconds(std::min(kFinishedPollMilliseconds, milliseconds - elapsed));
  }
  return true;
}

void LoopEnvironment::Sleep(std::uint32_t milliseconds) {
  // Each wait ends at the same moment, the tick's end, however often a control wakes it.
  const std::uint32_t start = platform::TickCount();
  for (std::uint32_t elapsed = 0; elapsed < milliseconds; elapsed = platform::TickCount() - start) {
    if (wake_.Wait(milliseconds - elapsed) && woken_ && woken_()) return;
  }
}

std::string LoopEnvironment::ProgramDirectory() const {
  std::string path = platform::ProgramPath();
  const auto separator = path.rfind(platform::PathSeparator());
  if (separator != std::string::npos) path.erase(separator);
  return path;
}

CHalvernService::CHalvernService(const char* serviceName, const char* displayName,
                                 const char* description, LoopEnvironment* environment)
    : CServiceShell(serviceName, displayName, description),
      environment_(environment ? *environment : ownEnvironment_) {
  startType = 2;  // automatic: an installation registers it to start with the system
}

CHalvernService::~CHalvernService() = default;

void CHalvernService::OnStop() {
  stopRequested_.exchange(1);
  environment_.Wake();
}
void CHalvernService::OnPause() {
  paused_.exchange(1);
  environment_.Wake();
}
void CHalvernService::OnContinue() {
  paused_.exchange(0);
  environment_.Wake();
}

void CHalvernService::ReportServiceEvent(std::uint32_t eventId) {
  eventSource.Report(platform::kEventInformation, eventId, {displayName});
}

void CHalvernService::ReportTaskEvent(std::uint16_t type, std::uint32_t eventId,
                                      const std::vector<std::string>& strings) {
  eventSource.Report(type, eventId, strings);
}

void CHalvernService::ServiceMainBody(std::uint32_t /*argc*/, char** /*argv*/) {
  // The service counts as started as soon as its main routine runs.
  ReportState(platform::kServiceRunning, kUnchanged, kUnchanged, kUnchanged);
  ReportServiceEvent(kEventStarted);
  const std::int32_t previousPause = paused_.load();

  ServiceContext context(environment_.ProgramDirectory(), foreground, environment_.clock());
  context.log().Log("Service Started.");
  // Without its store the service runs on defaults and keeps no LastRun: said once, here.
  if (std::string why; platform::RegistryStoreProblem(why) != platform::kSuccess)
    context.log().LogFormat("The registry store cannot be used: %s", why.c_str());
  context.setEventReporter([this](std::uint16_t type, std::uint32_t eventId,
                                  const std::vector<std::string>& strings) {
    ReportTaskEvent(type, eventId, strings);
  });
  // Read once: a change takes effect at the next start of the service.
  const std::int32_t interval =
      platform::AtoiValue(context.settings().GetString("LoadTaskInterval", "60"));
  context.ReadDefaultTimeLimit();

  TaskCatalogue catalogue(context);
  catalogue.Reload();
  const std::int64_t lastReload = environment_.clock().Now();
  if (stopRequested_.load() == 0) RunTicks(catalogue, interval, lastReload, previousPause);
  StopSequence(context, catalogue);
}

void CHalvernService::RunTicks(TaskCatalogue& catalogue, std::int32_t interval,
                               std::int64_t lastReload, std::int32_t previousPause) {
  // A control within a tick is answered at once; the tick itself still comes at its time,
  // unless the control is the stop, which ends the sleep and gets that tick at once.
  environment_.OnWake([this, &previousPause] {
    ReportPauseChange(previousPause);
    return stopRequested_.load() == 1;
  });
  do {
    environment_.Sleep(kTickMilliseconds);
    if (paused_.load() == 0) {
      const std::int64_t now = environment_.clock().Now();
      if (now >= lastReload + static_cast<std::int64_t>(interval)) {
        catalogue.Reload();
        lastReload = now;
      }
      catalogue.RunDueTasks(now);
    }
    ReportPauseChange(previousPause);
  } while (stopRequested_.load() != 1);
  environment_.OnWake(nullptr);
}

void CHalvernService::ReportPauseChange(std::int32_t& reported) {
  const std::int32_t pause = paused_.load();
  if (pause != reported) {
    if (pause == 1) {
      ReportState(platform::kServicePaused, kUnchanged, kUnchanged, kUnchanged);
      ReportServiceEvent(kEventPaused);
    } else {
      ReportState(platform::kServiceRunning, kUnchanged, kUnchanged, kUnchanged);
      ReportServiceEvent(kEventContinued);
    }
  }
  reported = pause;
}

void CHalvernService::StopSequence(ServiceContext& context, TaskCatalogue& catalogue) {
  context.log().Log("Stopping Service");
  ReportState(platform::kServiceStopPending, 1, kStopWaitHint, kUnchanged);
  if (SetStopEvent() != platform::kSuccess) context.log().Log("Could not send shutdown event");

  // Watchers end within moments of the stop event; wait at most nine ticks for them, each
  // cut short when they have all ended, so the report of that tick follows at once.
  if (!catalogue.AllFinished()) {
    const auto finished = [&catalogue] { return catalogue.AllFinished(); };
    for (std::uint32_t checkPoint = 2; checkPoint <= kLastStopCheckPoint; ++checkPoint) {
      environment_.WaitUntil(kTickMilliseconds, finished);
      ReportState(platform::kServiceStopPending, checkPoint, kStopWaitHint, kUnchanged);
      if (checkPoint == kLastStopCheckPoint || catalogue.AllFinished()) break;
    }
  }
  catalogue.RecordEndedRuns();
  context.log().Log("Service Stopped");
  ReportServiceEvent(kEventStopped);
}

}  // namespace hvs
