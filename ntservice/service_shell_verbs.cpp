// CServiceShell's command line: the arguments it reads and the verb it carries out.
#include "ntservice/service_shell.h"

#include <cstdio>

#include "ntservice/process_arguments.h"
#include "ntservice/service_wait.h"
#include "platform/arguments.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/secure_wipe.h"

namespace hvs {

namespace {

// String-table ids of the control verbs' failure texts.
constexpr std::uint32_t kMessageStartFailed = 10;
constexpr std::uint32_t kMessageStopFailed = 11;
constexpr std::uint32_t kMessageContinueFailed = 12;
constexpr std::uint32_t kMessagePauseFailed = 13;

constexpr std::uint32_t kAutoStart = 2;

// ` "/SN:value"`: quoted whole, so that the value may hold spaces.
std::string QuotedSwitch(const char* prefix, const std::string& value) {
  return " \"" + std::string(prefix) + value + "\"";
}

}  // namespace

void CServiceShell::ParseArguments(CServiceShellCommandLineInfo& info) {
  std::vector<std::string> arguments = platform::ProcessArguments();
  ParseArgumentList(arguments, info);
  for (std::string& argument : arguments) platform::SecureWipe(argument);
}

std::uint32_t CServiceShell::ExecuteVerb(CServiceShellCommandLineInfo& info) {
  ApplyOverrides(info);
  platform::Error error = platform::kSuccess;
  std::string text;
  switch (info.verb) {
    case VerbNone:
      return RunUnderDispatcher(error) ? 0 : error;
    case VerbStart: return ControlVerb(kOperationStart, kMessageStartFailed, info);
    case VerbPause: return ControlVerb(kOperationPause, kMessagePauseFailed, info);
    case VerbContinue: return ControlVerb(kOperationContinue, kMessageContinueFailed, info);
    case VerbStop: return ControlVerb(kOperationStop, kMessageStopFailed, info);
    case VerbInstall:
      PrepareInstall(info);
      if (Install(text, error)) return 0;
      ShowFailure(text, info);
      return error;
    case VerbUninstall:
      // A refused stop request that the service outlived leaves its error as the exit
      // code of a successful removal, which shows no text.
      if (Uninstall(text, error, static_cast<std::uint32_t>(info.timeoutMs))) return error;
      ShowFailure(text, info);
      return error;
    case VerbForeground:
      try {
        RunInForeground();
      } catch (const CServiceShellTerminateException& terminate) {
        return terminate.win32ExitCode;
      }
      return 0;
    case VerbHelp:
      ShowUsage();
      return 0;
  }
  return platform::kInvalidParameter;  // no verb of ours
}

void CServiceShell::ApplyOverrides(const CServiceShellCommandLineInfo& info) {
  if (allowServiceName && !info.serviceName.empty()) serviceName = info.serviceName;
  if (allowDisplayName && !info.displayName.empty()) {
    displayName = info.displayName;
    eventSource.sourceName = displayName;
  }
  if (allowDescription && !info.description.empty()) description = info.description;
}

void CServiceShell::PrepareInstall(CServiceShellCommandLineInfo& info) {
  installCommandLine = platform::ProgramPath();
  if (installCommandLine.find(' ') != std::string::npos)
    installCommandLine = "\"" + installCommandLine + "\"";
  // The installed service, when started, parses the same overrides.
  if (allowServiceName && !info.serviceName.empty())
    installCommandLine += QuotedSwitch("/SN:", info.serviceName);
  if (allowDisplayName && !info.displayName.empty())
    installCommandLine += QuotedSwitch("/SDN:", info.displayName);
  if (allowDescription && !info.description.empty())
    installCommandLine += QuotedSwitch("/SD:", info.description);
  if (allowCommandTail && !info.commandTail.empty()) installCommandLine += " " + info.commandTail;
  if (!info.userName.empty()) {
    accountName = info.userName;
    platform::SecureWipe(info.userName);
  }
  if (!info.password.empty()) {
    accountPassword = info.password;
    platform::SecureWipe(info.password);
  }
  if (info.autoStart) startType = kAutoStart;
}

std::uint32_t CServiceShell::ControlVerb(std::uint32_t operation, std::uint32_t messageId,
                                         const CServiceShellCommandLineInfo& info) {
  platform::Error error = platform::kSuccess;
  if (SetServiceToStatus(operation, error, static_cast<std::uint32_t>(info.timeoutMs),
                         kPollIntervalMs))
    return 0;
  ShowFailure(FormatFailure(messageId, error, false), info);
  return error;
}

void CServiceShell::ShowFailure(const std::string& text, const CServiceShellCommandLineInfo& info) {
  if (info.silent) return;
  if (consoleMessages) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  } else {
    platform::ShowMessageBox(text);
  }
}

void CServiceShell::ShowUsage() {}

}  // namespace hvs
