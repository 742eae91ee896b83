// The bundle one run of the service works with: its directories, log, settings and variables.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings_store.h"
#include "config/variable_table.h"
#include "log/log_file.h"
#include "platform/clock.h"

namespace hvs {

// Built by the main routine before anything else runs and destroyed last. Construction
// creates `Logs` and `Config` next to the program (failures change nothing: lines are then
// lost and no task is found), then the log, the settings store and the variable table, in
// that order; destruction goes the other way. Used from the service thread only.
class ServiceContext {
 public:
  // `programDirectory` has no trailing separator. The log echoes to the console when
  // `foreground` is set. `clock` (not owned) stamps the log lines and times the task runs.
  ServiceContext(std::string programDirectory, bool foreground,
                 const platform::Clock& clock = platform::SystemClock());
  // A context that changes nothing, for tools that load the tasks as the service would:
  // no directory is created, the registry is only read (SettingsStore::Access::kReadOnly)
  // and every message of the log goes to `sink` instead of the file (LogFile::Divert).
  ServiceContext(std::string programDirectory, std::function<void(std::string_view)> sink,
                 const platform::Clock& clock = platform::SystemClock());
  ServiceContext(const ServiceContext&) = delete;
  ServiceContext& operator=(const ServiceContext&) = delete;

  std::string LogsDirectory() const;
  std::string ConfigDirectory() const;

  const std::string& programDirectory() const { return programDirectory_; }
  bool foreground() const { return foreground_; }
  LogFile& log() { return log_; }
  SettingsStore& settings() { return settings_; }
  VariableTable& variables() { return variables_; }
  const platform::Clock& clock() const { return clock_; }
  // Writes an event (platform::kEventWarning, ...) for the tasks; nothing unless set, as
  // in the tools that use a context without the service.
  using EventReporter = std::function<void(std::uint16_t type, std::uint32_t eventId,
                                           const std::vector<std::string>& strings)>;
  void setEventReporter(EventReporter reporter) { eventReporter_ = std::move(reporter); }
  void ReportEvent(std::uint16_t type, std::uint32_t eventId,
                   const std::vector<std::string>& strings) const {
    if (eventReporter_) eventReporter_(type, eventId, strings);
  }
  // The time limit of a task whose file gives none; 0 or less: none. 0 until read.
  std::int32_t defaultTimeLimitSeconds() const { return defaultTimeLimitSeconds_; }
  // Takes the default time limit from the program key's "TaskTimeLimit", which a store that
  // may write creates as "0" (no limit) when it is absent, as "LoadTaskInterval".
  void ReadDefaultTimeLimit();

 private:
  // Member order is construction order; each part outlives those that refer to it.
  std::string programDirectory_;
  bool foreground_;
  const platform::Clock& clock_;
  LogFile log_;
  SettingsStore settings_;
  VariableTable variables_;
  std::int32_t defaultTimeLimitSeconds_ = 0;
  EventReporter eventReporter_;
};

}  // namespace hvs
