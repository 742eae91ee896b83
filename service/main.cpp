// ZAVPluginService program entry: the stop event, the one service object, and its verb.
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "ntservice/command_line_info.h"
#include "platform/arguments.h"
#include "platform/process.h"
#include "platform/resources.h"
#include "platform/secure_wipe.h"
#include "service/admin_verbs.h"
#include "service/halvern_service.h"
#include "tasks/stop_event.h"

namespace {
constexpr std::uint32_t kServiceNameId = 202;
constexpr std::uint32_t kDisplayNameId = 200;
constexpr std::uint32_t kDescriptionId = 201;
}  // namespace

// The program's own verbs ("/tasks", "/validate"), when the command line names one.
hvs::AdminCommand OwnVerb() {
  std::vector<std::string> arguments = platform::ProcessArguments();
  hvs::AdminCommand command = hvs::ParseAdminCommand(arguments);
  for (std::string& argument : arguments) platform::SecureWipe(argument);
  return command;
}

int main() {
  // A console piped into a program that has quit must not end the service, nor a verb.
  platform::IgnoreBrokenPipes();

  // They only read, so they run before anything of the service exists.
  if (const hvs::AdminCommand command = OwnVerb(); command.verb != hvs::AdminCommand::Verb::kNone)
    return hvs::RunAdminCommand(command, hvs::LoopEnvironment().ProgramDirectory(), std::cout,
                                std::cerr);

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
