// Walking the process arguments for the command line and for the foreground run.
#include "ntservice/process_arguments.h"

#include "platform/secure_wipe.h"
#include "platform/strings.h"

namespace hvs {

void ParseArgumentList(const std::vector<std::string>& arguments, CServiceShellCommandLineInfo& info) {
  for (std::size_t index = 1; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    const bool isSwitch = !argument.empty() && (argument[0] == '-' || argument[0] == '/');
    std::string text = isSwitch ? argument.substr(1) : argument;
    info.ParseParameter(text, isSwitch, index + 1 == arguments.size());
    platform::SecureWipe(text);  // it may be a password ("/P:...")
  }
}

std::vector<std::string> ForegroundArguments(const std::vector<std::string>& arguments) {
  static const char* const kForegroundSwitches[] = {
      "-debug", "/debug", "-app", "/app", "-application", "/application", "-console", "/console",
  };
  std::vector<std::string> kept;
  for (const std::string& argument : arguments) {
    bool choosesForeground = false;
    for (const char* word : kForegroundSwitches)
      choosesForeground = choosesForeground || platform::CompareNoCase(argument, word) == 0;
    if (!choosesForeground) kept.push_back(argument);
  }
  return kept;
}

ArgumentList::ArgumentList(std::vector<std::string> words) : words_(std::move(words)) {
  pointers_.reserve(words_.size() + 1);
  for (std::string& word : words_) pointers_.push_back(word.data());
  pointers_.push_back(nullptr);
}

}  // namespace hvs
