// Verbs and options of the service program's command line.
#include "ntservice/command_line_info.h"

#include <string_view>

#include "platform/strings.h"

namespace hvs {

namespace {

// Applies the verb word `text`, if it is one; the first word of the list that matches wins.
bool ApplyWord(CServiceShellCommandLineInfo& info, const std::string& text) {
  struct Word {
    const char* word;
    void (*apply)(CServiceShellCommandLineInfo&);
  };
  static const Word kWords[] = {
      {"install", [](auto& i) { i.verb = VerbInstall; }},
      {"silent", [](auto& i) { i.silent = true; }},
      {"start", [](auto& i) { i.verb = VerbStart; }},
      {"pause", [](auto& i) { i.verb = VerbPause; }},
      {"continue", [](auto& i) { i.verb = VerbContinue; }},
      {"stop", [](auto& i) { i.verb = VerbStop; }},
      {"auto", [](auto& i) { i.autoStart = true; }},
      {"remove", [](auto& i) { i.verb = VerbUninstall; }},
      {"uninstall", [](auto& i) { i.verb = VerbUninstall; }},
      {"debug", [](auto& i) { i.verb = VerbForeground; }},
      {"app", [](auto& i) { i.verb = VerbForeground; }},
      {"application", [](auto& i) { i.verb = VerbForeground; }},
      {"console", [](auto& i) { i.verb = VerbForeground; }},
      {"help", [](auto& i) { i.verb = VerbHelp; }},
      {"?", [](auto& i) { i.verb = VerbHelp; }},
  };
  for (const Word& word : kWords) {
    if (platform::CompareNoCase(text, word.word) == 0) {
      word.apply(info);
      return true;
    }
  }
  return false;
}

// Applies the option that `text` begins with, if any; the first matching prefix wins.
void ApplyOption(CServiceShellCommandLineInfo& info, const std::string& text) {
  struct Option {
    std::string_view prefix;
    void (*apply)(CServiceShellCommandLineInfo&, std::string value);
  };
  static const Option kOptions[] = {
      {"T:", [](auto& i, std::string v) { i.timeoutMs = platform::AtoiValue(v); }},
      {"SCL:", [](auto& i, std::string v) { i.commandTail = std::move(v); }},
      {"SD:", [](auto& i, std::string v) { i.description = std::move(v); }},
      {"SN:", [](auto& i, std::string v) { i.serviceName = std::move(v); }},
      {"SDN:", [](auto& i, std::string v) { i.displayName = std::move(v); }},
      {"P:", [](auto& i, std::string v) { i.password = std::move(v); }},
      {"U:", [](auto& i, std::string v) { i.userName = std::move(v); }},
  };
  const std::string upper = platform::ToUpperCase(text);
  for (const Option& option : kOptions) {
    // The value must not be empty, and keeps the case it was written in.
    if (upper.size() > option.prefix.size() && upper.starts_with(option.prefix)) {
      option.apply(info, text.substr(option.prefix.size()));
      return;
    }
  }
}

}  // namespace

CServiceShellCommandLineInfo::~CServiceShellCommandLineInfo() = default;

void CServiceShellCommandLineInfo::ParseParameter(const std::string& text, bool isSwitch,
                                                  bool /*isLast*/) {
  if (!isSwitch) return;
  if (!ApplyWord(*this, text)) ApplyOption(*this, text);
}

}  // namespace hvs
