// `hvsctl sc query|qc NAME`: sc.exe's layout, field names padded to one column.
#include "tools/hvsctl/sc_command.h"

#include <cstdio>
#include <ostream>
#include <string_view>

#include "platform/error_text.h"
#include "platform/service_manager.h"
#include "platform/strings.h"

namespace hvsctl {

namespace {

using platform::Error;

constexpr std::string_view kUsage =
    "Usage:\n"
    "  hvsctl sc query NAME   the service's state, exit codes, check point and wait hint\n"
    "  hvsctl sc qc NAME      the service's type, start type, binary path, display name, account\n";

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

// One field line: eight spaces, the name padded to 19 columns, ": ", the value.
void Field(std::ostream& out, std::string_view name, const std::string& value) {
  std::string line = "        ";
  line += name;
  line.resize(8 + 19, ' ');
  out << line << ": " << value << '\n';
}

std::string NameOf(std::uint32_t value, std::initializer_list<std::string_view> names) {
  return value < names.size() ? std::string(names.begin()[value]) : std::string();
}

std::string TypeText(std::uint32_t type) {
  std::string name;
  switch (type & ~0x100U) {
    case 0x1: name = "KERNEL_DRIVER"; break;
    case 0x2: name = "FILE_SYSTEM_DRIVER"; break;
    case 0x10: name = "WIN32_OWN_PROCESS"; break;
    case 0x20: name = "WIN32_SHARE_PROCESS"; break;
    default: break;
  }
  if (type & 0x100) name += " (interactive)";
  return Hex(type) + "  " + name;
}

std::string StateText(std::uint32_t state) {
  return std::to_string(state) + "  " +
         NameOf(state, {"", "STOPPED", "START_PENDING", "STOP_PENDING", "RUNNING",
                        "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED"});
}

std::string ControlsText(std::uint32_t controls) {
  return std::string("(") + (controls & platform::kServiceAcceptStop ? "" : "NOT_") + "STOPPABLE, " +
         (controls & platform::kServiceAcceptPauseContinue ? "" : "NOT_") + "PAUSABLE, " +
         (controls & 0x4 ? "ACCEPTS" : "IGNORES") + "_SHUTDOWN)";
}

std::string CodeText(std::uint32_t code) { return std::to_string(code) + "  (0x" + Hex(code) + ")"; }

int Failed(std::ostream& out, std::string_view call, Error error) {
  std::string text = platform::SystemErrorText(error);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  out << "[SC] " << call << " FAILED " << error << ":\n\n" << text << "\n\n";
  return static_cast<int>(error);
}

int Query(const platform::Service& service, const std::string& name, std::ostream& out) {
  platform::ServiceStatus status;
  if (const Error error = service.QueryStatus(status)) return Failed(out, "QueryServiceStatus", error);
  out << "\nSERVICE_NAME: " << name << '\n';
  Field(out, "TYPE", TypeText(status.serviceType));
  Field(out, "STATE", StateText(status.currentState));
  out << std::string(32, ' ') << ControlsText(status.controlsAccepted) << '\n';
  Field(out, "WIN32_EXIT_CODE", CodeText(status.win32ExitCode));
  Field(out, "SERVICE_EXIT_CODE", CodeText(status.serviceSpecificExitCode));
  Field(out, "CHECKPOINT", "0x" + Hex(status.checkPoint));
  Field(out, "WAIT_HINT", "0x" + Hex(status.waitHint));
  return 0;
}

// The dependency block's names; sc.exe puts the first beside the field and each further
// one on a line of its own under it.
void Dependencies(std::ostream& out, const std::vector<char>& block) {
  std::vector<std::string> names;
  for (std::size_t begin = 0; begin < block.size() && block[begin] != '\0';) {
    std::size_t end = begin;
    while (end < block.size() && block[end] != '\0') ++end;
    names.emplace_back(block.data() + begin, end - begin);
    begin = end + 1;
  }
  Field(out, "DEPENDENCIES", names.empty() ? std::string() : names.front());
  for (std::size_t i = 1; i < names.size(); ++i) Field(out, "", names[i]);
}

int QueryConfig(const platform::Service& service, const std::string& name, std::ostream& out) {
  platform::ServiceConfig config;
  if (const Error error = service.QueryConfig(config)) return Failed(out, "QueryServiceConfig", error);
  out << "[SC] QueryServiceConfig SUCCESS\n\nSERVICE_NAME: " << name << '\n';
  Field(out, "TYPE", TypeText(config.serviceType));
  Field(out, "START_TYPE",
        std::to_string(config.startType) + "   " +
            NameOf(config.startType,
                   {"BOOT_START", "SYSTEM_START", "AUTO_START", "DEMAND_START", "DISABLED"}));
  Field(out, "ERROR_CONTROL",
        std::to_string(config.errorControl) + "   " +
            NameOf(config.errorControl, {"IGNORE", "NORMAL", "SEVERE", "CRITICAL"}));
  Field(out, "BINARY_PATH_NAME", config.binaryPathName);
  Field(out, "LOAD_ORDER_GROUP", config.loadOrderGroup);
  Field(out, "TAG", "0");
  Field(out, "DISPLAY_NAME", config.displayName);
  Dependencies(out, config.dependencies);
  Field(out, "SERVICE_START_NAME",
        config.serviceStartName.empty() ? "LocalSystem" : config.serviceStartName);
  return 0;
}

}  // namespace

int RunScCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  if (words.size() == 1 && words[0] == "/?") {
    out << kUsage;
    return 0;
  }
  const bool query = words.size() == 2 && platform::CompareNoCase(words[0], "query") == 0;
  const bool config = words.size() == 2 && platform::CompareNoCase(words[0], "qc") == 0;
  if (!query && !config) {
    err << "ERROR: Invalid syntax.\n" << kUsage;
    return 1;
  }
  platform::ServiceManager manager;
  if (const Error error = manager.Connect(platform::kScManagerConnect))
    return Failed(out, "OpenSCManager", error);
  platform::Service service;
  const std::uint32_t access = query ? platform::kServiceQueryStatus : platform::kServiceQueryConfig;
  if (const Error error = manager.OpenService(words[1], access, service))
    return Failed(out, "OpenService", error);
  return query ? Query(service, words[1], out) : QueryConfig(service, words[1], out);
}

}  // namespace hvsctl
