// Processes recognised by their id, start time and boot, as /proc tells them.
#include "platform/posix/scm/scm_internal.h"

#include <string_view>

namespace platform::posix {

namespace {

// After the command name's closing parenthesis, the state is the first field, the thread
// count the eighteenth and the start time the twentieth (fields 3, 20 and 22 of proc(5)).
constexpr int kThreadsField = 17;
constexpr int kStartTimeField = 19;

bool ParseNumber(std::string_view value, std::uint64_t& number) {
  number = 0;
  for (const char digit : value) {
    if (digit < '0' || digit > '9') return false;
    number = number * 10 + static_cast<std::uint64_t>(digit - '0');
  }
  return !value.empty();
}

bool ParseProcessStat(std::string_view stat, char& state, std::uint64_t& threads,
                      std::uint64_t& startTime) {
  // The command name may itself hold spaces and parentheses; the last ')' ends it.
  const std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return false;
  std::string_view rest = stat.substr(close + 1);
  for (int field = 0; field <= kStartTimeField; ++field) {
    const std::size_t begin = rest.find_first_not_of(' ');
    if (begin == std::string_view::npos) return false;
    rest.remove_prefix(begin);
    const std::size_t end = rest.find(' ');
    const std::string_view value = rest.substr(0, end);
    if (field == 0) state = value.front();
    if (field == kThreadsField && !ParseNumber(value, threads)) return false;
    if (field == kStartTimeField) return ParseNumber(value, startTime);
    if (end == std::string_view::npos) return false;
    rest.remove_prefix(end);
  }
  return false;
}

}  // namespace

const std::string& CurrentBootId() {
  static const std::string id = [] {
    std::string text;
    int error = 0;
    if (!ReadSmallFile("/proc/sys/kernel/random/boot_id", text, error)) return std::string();
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text.find_first_of(" \n") == std::string::npos ? text : std::string();
  }();
  return id;
}

bool IdentifyProcess(std::int32_t pid, ProcessIdentity& identity) {
  if (pid <= 0) return false;
  std::string stat;
  int error = 0;
  if (!ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", stat, error)) return false;
  char state = 0;
  std::uint64_t threads = 0;
  std::uint64_t startTime = 0;
  if (!ParseProcessStat(stat, state, threads, startTime)) return false;
  // A zombie has ended; only its parent has not noticed yet. But a main thread that ended
  // before the others reads as a zombie too, while they still run and hold the process's
  // descriptors, its control socket among them.
  if ((state == 'Z' || state == 'X' || state == 'x') && threads <= 1) return false;
  identity = ProcessIdentity{pid, startTime, CurrentBootId()};
  return true;
}

bool IsRunning(const ProcessIdentity& identity) {
  ProcessIdentity now;
  return identity.bootId == CurrentBootId() && IdentifyProcess(identity.pid, now) &&
         now.startTime == identity.startTime;
}

}  // namespace platform::posix
