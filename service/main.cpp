// ZAVPluginService program entry: the stop event, the one service object, and its verb.
#include <cstdint>
#include <string>

#include "ntservice/command_line_info.h"
#include "platform/process.h"
#include "platform/resources.h"
#include "service/halvern_service.h"
#include "tasks/stop_event.h"

namespace {
constexpr std::uint32_t kServiceNameId = 202;
constexpr std::uint32_t kDisplayNameId = 200;
constexpr std::uint32_t kDescriptionId = 201;
}  // namespace

int main() {
  // A console piped into a program that has quit must not end the service.
  platform::IgnoreBrokenPipes();
  // Every task watcher waits on this event; the stop sequence sets it. Its result is not
  // needed here: without it the stop sequence logs that it could not signal.
  hvs::CreateStopEvent(hvs::kStopEventName);

  const std::string serviceName = platform::LoadResourceString(kServiceNameId);
  const std::string displayName = platform::LoadResourceString(kDisplayNameId);
  const std::string description = platform::LoadResourceString(kDescriptionId);

  std::uint32_t exitCode = 0;
  {
    hvs::CServiceShellCommandLineInfo info;
    hvs::CHalvernService service(serviceName.c_str(), displayName.c_str(), description.c_str());
    service.ParseArguments(info);
    exitCode = service.ExecuteVerb(info);
  }
  hvs::CloseStopEvent();
  return static_cast<int>(exitCode);
}
