// Recognising the program's own verbs on the command line and dispatching them.
#include "service/admin_verbs.h"

#include "ntservice/command_line_info.h"
#include "platform/secure_wipe.h"
#include "platform/strings.h"

namespace hvs {

namespace {

// What the framework's grammar makes of one switch, found by handing it to a fresh
// command line. Two of them, so that an option setting the initial timeout still shows.
struct SwitchMeaning {
  bool known = false;
  bool verb = false;
  bool silent = false;
};

SwitchMeaning FrameworkMeaningOf(const std::string& text) {
  SwitchMeaning meaning;
  for (const std::int32_t timeout : {5000, 0}) {
    CServiceShellCommandLineInfo probe;
    probe.timeoutMs = timeout;
    probe.ParseParameter(text, true, false);
    meaning.verb = meaning.verb || probe.verb != VerbNone;
    meaning.silent = meaning.silent || probe.silent;
    meaning.known = meaning.known || meaning.verb || meaning.silent || probe.autoStart ||
                    probe.timeoutMs != timeout || !probe.commandTail.empty() ||
                    !probe.serviceName.empty() || !probe.displayName.empty() ||
                    !probe.description.empty() || !probe.userName.empty() ||
                    !probe.password.empty();
    platform::SecureWipe(probe.userName);
    platform::SecureWipe(probe.password);
  }
  return meaning;
}

AdminCommand::Verb OwnVerbOf(const std::string& text) {
  if (platform::CompareNoCase(text, "tasks") == 0) return AdminCommand::Verb::kTasks;
  if (platform::CompareNoCase(text, "validate") == 0) return AdminCommand::Verb::kValidate;
  if (platform::CompareNoCase(text, "run") == 0) return AdminCommand::Verb::kRun;
  return AdminCommand::Verb::kNone;
}

}  // namespace

AdminCommand ParseAdminCommand(const std::vector<std::string>& arguments) {
  AdminCommand command;
  for (std::size_t index = 1; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    const bool isSwitch = !argument.empty() && (argument[0] == '-' || argument[0] == '/');
    if (!isSwitch) {
      command.files.push_back(argument);
      continue;
    }
    std::string text = argument.substr(1);
    if (const AdminCommand::Verb own = OwnVerbOf(text); own != AdminCommand::Verb::kNone) {
      command.verb = own;
    } else {
      const SwitchMeaning meaning = FrameworkMeaningOf(text);
      if (meaning.verb) command.verb = AdminCommand::Verb::kNone;  // the later verb wins
      command.silent = command.silent || meaning.silent;
      if (!meaning.known) command.files.push_back(argument);
    }
    platform::SecureWipe(text);  // it may be a password ("/P:...")
  }
  return command;
}

int RunAdminCommand(const AdminCommand& command, const std::string& programDirectory,
                    std::ostream& out, std::ostream& err) {
  std::ostream nowhere(nullptr);
  std::ostream& failures = command.silent ? nowhere : err;
  switch (command.verb) {
    case AdminCommand::Verb::kTasks:
      return ListTasks(programDirectory, out, failures);
    case AdminCommand::Verb::kValidate:
      return ValidateTaskFiles(programDirectory, command.files, out, failures);
    case AdminCommand::Verb::kRun:
      if (command.files.size() != 1) {
        failures << "Usage: /run <task name or task file name>\n";
        return kRunUsage;
      }
      return RunTaskOnce(programDirectory, command.files.front(), out, failures);
    case AdminCommand::Verb::kNone:
      break;
  }
  return 0;
}

}  // namespace hvs
