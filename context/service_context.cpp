// Set-up and tear-down of the service context.
#include "context/service_context.h"

#include "platform/files.h"
#include "platform/strings.h"

namespace hvs {

namespace {

constexpr const char* kLogsName = "Logs";
constexpr const char* kConfigName = "Config";

// Creates Logs and Config below the directory and hands it on. An existing directory, or
// one that cannot be made, is fine: the log and the catalogue cope with a missing one.
std::string WithSubdirectories(std::string programDirectory) {
  platform::CreateDirectory(platform::JoinPath(programDirectory, kLogsName));
  platform::CreateDirectory(platform::JoinPath(programDirectory, kConfigName));
  return programDirectory;
}

LogFile OpenLog(const ServiceContext& context, const platform::Clock& clock) {
  LogFile log(context.foreground(), clock);
  log.Init(context.LogsDirectory(), "HVS.Log");
  return log;
}

// The same log with its messages handed to `sink`; without a sink they are dropped, as
// the file must stay untouched either way.
LogFile DivertedLog(const ServiceContext& context, const platform::Clock& clock,
                    std::function<void(std::string_view)> sink) {
  LogFile log = OpenLog(context, clock);
  if (!sink) sink = [](std::string_view) {};
  log.Divert(std::move(sink));
  return log;
}

}  // namespace

ServiceContext::ServiceContext(std::string programDirectory, bool foreground,
                               const platform::Clock& clock)
    : programDirectory_(WithSubdirectories(std::move(programDirectory))),
      foreground_(foreground),
      clock_(clock),
      log_(OpenLog(*this, clock)),
      settings_(log_),
      variables_(settings_, log_) {}

ServiceContext::ServiceContext(std::string programDirectory,
                               std::function<void(std::string_view)> sink,
                               const platform::Clock& clock)
    : programDirectory_(std::move(programDirectory)),
      foreground_(false),
      clock_(clock),
      log_(DivertedLog(*this, clock, std::move(sink))),
      settings_(log_, platform::RegistryKey::LocalMachineForReading(), SettingsStore::Access::kReadOnly),
      variables_(settings_, log_) {}

void ServiceContext::ReadDefaultTimeLimit() {
  defaultTimeLimitSeconds_ = platform::AtoiValue(settings_.GetString("TaskTimeLimit", "0"));
}

std::string ServiceContext::LogsDirectory() const {
  return platform::JoinPath(programDirectory_, kLogsName);
}

std::string ServiceContext::ConfigDirectory() const {
  return platform::JoinPath(programDirectory_, kConfigName);
}

}  // namespace hvs
