// CServiceShell's texts: failure messages from the string table, system texts, the dependency block.
#include "ntservice/service_shell.h"

#include <initializer_list>

#include "platform/error_text.h"
#include "platform/resources.h"

namespace hvs {

namespace {

constexpr std::uint32_t kMessageErrorPair = 15;  // "%1, %2"

// `format` with "%1", "%2", ... replaced by the inserts in one pass, so that an insert
// that itself holds "%1" (some system texts do) stays as it is.
std::string FillInserts(const std::string& format, std::initializer_list<const std::string*> inserts) {
  std::string text;
  text.reserve(format.size());
  for (std::size_t at = 0; at < format.size(); ++at) {
    const std::size_t number =
        at + 1 < format.size() && format[at] == '%' ? static_cast<std::size_t>(format[at + 1] - '0') : 0;
    if (number >= 1 && number <= inserts.size()) {
      text += *inserts.begin()[number - 1];
      ++at;
    } else {
      text += format[at];
    }
  }
  return text;
}

}  // namespace

std::string CServiceShell::ErrorPair(const std::string& number, platform::Error error) {
  const std::string system = SystemErrorText(error);
  return FillInserts(platform::LoadResourceString(MessageIdFor(kMessageErrorPair)), {&number, &system});
}

std::string CServiceShell::FormatFailure(std::uint32_t messageId, platform::Error error,
                                         bool forEventLog) {
  const std::int32_t mode = forEventLog ? eventFailureTextMode : failureTextMode;
  const std::string number = std::to_string(static_cast<std::int32_t>(error));
  // The event log has its own text for each event; only the plain forms go there.
  if (forEventLog && mode >= 3) return std::string();
  std::string insert;
  switch (mode) {
    case 0: return number;
    case 1: return ErrorPair(number, error);
    case 2: return SystemErrorText(error);
    case 3: insert = number; break;
    case 4: insert = ErrorPair(number, error); break;
    case 5: insert = SystemErrorText(error); break;
    default: return std::string();
  }
  return FillInserts(platform::LoadResourceString(MessageIdFor(messageId)), {&insert});
}

std::uint32_t CServiceShell::MessageIdFor(std::uint32_t messageId) { return messageId; }

std::uint32_t CServiceShell::EventIdFor(std::uint32_t eventId) { return eventId; }

std::string CServiceShell::SystemErrorText(platform::Error error) {
  return platform::SystemErrorText(error);
}

std::vector<char> CServiceShell::DependencyList() {
  std::vector<char> block;
  for (const std::string& dependency : dependencies) {
    // An empty entry would end the list early and drop every dependency after it.
    if (dependency.empty()) continue;
    block.insert(block.end(), dependency.begin(), dependency.end());
    block.push_back('\0');
  }
  block.push_back('\0');
  return block;
}

}  // namespace hvs
