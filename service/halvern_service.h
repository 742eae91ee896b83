// CHalvernService: the plug-in service itself, its main loop and its reactions to controls.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "ntservice/event_ids.h"
#include "ntservice/service_shell.h"
#include "platform/auto_reset_event.h"
#include "platform/clock.h"

namespace hvs {

class ServiceContext;
class TaskCatalogue;

// What the main loop takes from the system. Tests hand it a clock and a sleep of their
// own; the program always ticks on the real ones, once a second.
class LoopEnvironment {
 public:
  virtual ~LoopEnvironment() = default;
  // The time of the ticks, the log stamps and the task runs.
  virtual const platform::Clock& clock() const { return platform::SystemClock(); }
  // Sleeps `milliseconds`, one tick. The real one wakes at every Wake and asks the handler
  // given to OnWake: true ends the sleep at once, false sleeps on to the tick's end.
  virtual void Sleep(std::uint32_t milliseconds);
  // Returns true as soon as `done` holds, false when it still does not after `milliseconds`.
  // The real one looks every few milliseconds, so that the stop follows the watchers'
  // ends within moments instead of at the next whole tick.
  virtual bool WaitUntil(std::uint32_t milliseconds, const std::function<bool()>& done);
  // The directory of the program file, without a trailing separator.
  virtual std::string ProgramDirectory() const;

  // A control arrived: cuts the sleep under way (or the next) short. From any thread.
  void Wake() { wake_.Set(); }
  // What a woken Sleep asks, on the sleeping thread; null: nothing, it sleeps on.
  void OnWake(std::function<bool()> woken) { woken_ = std::move(woken); }

 private:
  platform::AutoResetEvent wake_ = [] {
    platform::AutoResetEvent event;
    event.Create();  // when it fails, the sleeps last their whole tick, as without controls
    return event;
  }();
  std::function<bool()> woken_;
};

class CHalvernService : public CServiceShell {
 public:
  // The three texts are the string resources 202, 200 and 201. `environment` (not owned)
  // must outlive the service; null means the real system.
  CHalvernService(const char* serviceName, const char* displayName, const char* description,
                  LoopEnvironment* environment = nullptr);
  ~CHalvernService() override;

  // Reports running, builds the context and the catalogue, then ticks once a second:
  // reloads on the interval and offers the tick's time to the tasks unless paused; at a
  // stop request it signals the watchers, waits at most nine seconds for the tasks and
  // tears everything down.
  void ServiceMainBody(std::uint32_t argc, char** argv) override;
  // Only set the flags that the main loop reads at every tick, and wake its sleep: a pause
  // or a continue is reported at once, a stop ends the sleep.
  void OnStop() override;
  void OnPause() override;
  void OnContinue() override;

 protected:
  // One information event with the display name, whatever eventLogging says.
  virtual void ReportServiceEvent(std::uint32_t eventId);
  // One event about a task (its result turned to failure or back), from the service thread.
  virtual void ReportTaskEvent(std::uint16_t type, std::uint32_t eventId,
                               const std::vector<std::string>& strings);

 private:
  void RunTicks(TaskCatalogue& catalogue, std::int32_t interval, std::int64_t lastReload,
                std::int32_t previousPause);
  // Reports paused or running when the flag differs from `reported`, which then follows it.
  void ReportPauseChange(std::int32_t& reported);
  void StopSequence(ServiceContext& context, TaskCatalogue& catalogue);

  LoopEnvironment ownEnvironment_;
  LoopEnvironment& environment_;
  std::atomic<std::int32_t> stopRequested_{0};
  std::atomic<std::int32_t> paused_{0};
};

}  // namespace hvs
