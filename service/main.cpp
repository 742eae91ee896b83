// ZAVPluginService program entry. For now it runs the service's set-up once: the context
// (directories, log, settings, variables) next to the program, one log roll-over, and the
// settings read at start.
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "service/service_context.h"

namespace {

std::string ProgramDirectory() {
  std::string path = platform::ProgramPath();
  const auto separator = path.rfind(platform::PathSeparator());
  if (separator != std::string::npos) path.erase(separator);
  return path;
}

}  // namespace

int main() {
  hvs::ServiceContext context(ProgramDirectory(), true);
  hvs::LogFile& log = context.log();
  log.RollOver();
  log.Log("Service Started.");
  const int interval = std::atoi(context.settings().GetString("LoadTaskInterval", "60").c_str());
  log.LogFormat("Task catalogue reload interval: %d seconds", interval);
  std::string display;
  context.variables().Substitute("%SOAPURL%", display);
  log.LogFormat("Reporting web service: %s", display.c_str());
  log.Log("Service Stopped");
  return 0;
}
