// Status files written by rename, and processes recognised by their id and start time.
#include "platform/posix/service_status.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <string_view>

#include "platform/posix/errno_map.h"
#include "platform/posix/unique_fd.h"

namespace platform::posix {

namespace {

// After the command name's closing parenthesis, the state is the first field and the start
// time the twentieth (fields 3 and 22 of proc(5)).
constexpr int kStartTimeField = 19;

bool ReadSmallFile(const std::string& path, std::string& content, int& error) {
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) {
    error = errno;
    return false;
  }
  char buffer[1024];
  ssize_t got = 0;
  do got = ::read(file.get(), buffer, sizeof buffer);
  while (got < 0 && errno == EINTR);
  if (got < 0) {
    error = errno;
    return false;
  }
  content.assign(buffer, static_cast<std::size_t>(got));
  return true;
}

bool ParseProcessStat(std::string_view stat, char& state, std::uint64_t& startTime) {
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
    if (field == kStartTimeField) {
      startTime = 0;
      for (const char digit : value) {
        if (digit < '0' || digit > '9') return false;
        startTime = startTime * 10 + static_cast<std::uint64_t>(digit - '0');
      }
      return true;
    }
    if (end == std::string_view::npos) return false;
    rest.remove_prefix(end);
  }
  return false;
}

std::string FormatRecord(const StatusRecord& record) {
  const ServiceStatus& s = record.status;
  char line[256];
  std::snprintf(line, sizeof line, "%" PRId32 " %" PRIu64 " %u %u %u %u %u %u %u\n",
                record.process.pid, record.process.startTime, s.serviceType, s.currentState,
                s.controlsAccepted, s.win32ExitCode, s.serviceSpecificExitCode, s.checkPoint,
                s.waitHint);
  return line;
}

bool ParseRecord(const std::string& text, StatusRecord& record) {
  ServiceStatus& s = record.status;
  char end = 0;
  return std::sscanf(text.c_str(), "%" SCNd32 " %" SCNu64 " %u %u %u %u %u %u %u%c",
                     &record.process.pid, &record.process.startTime, &s.serviceType,
                     &s.currentState, &s.controlsAccepted, &s.win32ExitCode,
                     &s.serviceSpecificExitCode, &s.checkPoint, &s.waitHint, &end) == 10 &&
         end == '\n';
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

// Unique among this process's writers; the pid makes it unique among processes.
std::string TemporaryPath(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + '.' + std::to_string(::getpid()) + '.' + std::to_string(++counter) + ".tmp";
}

ServiceStatus StoppedStatus(std::uint32_t exitCode) {
  ServiceStatus status;
  status.win32ExitCode = exitCode;
  return status;
}

}  // namespace

bool IdentifyProcess(std::int32_t pid, ProcessIdentity& identity) {
  if (pid <= 0) return false;
  std::string stat;
  int error = 0;
  if (!ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", stat, error)) return false;
  char state = 0;
  std::uint64_t startTime = 0;
  if (!ParseProcessStat(stat, state, startTime)) return false;
  // A zombie has ended; only its parent has not noticed yet.
  if (state == 'Z' || state == 'X' || state == 'x') return false;
  identity = ProcessIdentity{pid, startTime};
  return true;
}

bool IsRunning(const ProcessIdentity& identity) {
  ProcessIdentity now;
  return IdentifyProcess(identity.pid, now) && now.startTime == identity.startTime;
}

Error WriteStatusRecord(const std::string& path, const StatusRecord& record) {
  const std::string temporary = TemporaryPath(path);
  UniqueFd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!file) return LastErrno();
  if (!WriteAll(file.get(), FormatRecord(record)) || ::close(file.release()) != 0 ||
      ::rename(temporary.c_str(), path.c_str()) != 0) {
    const Error error = LastErrno();
    ::unlink(temporary.c_str());
    return error;
  }
  return kSuccess;
}

Error ReadStatusRecord(const std::string& path, StatusRecord& record) {
  std::string text;
  int error = 0;
  if (!ReadSmallFile(path, text, error)) return FromErrno(error);
  return ParseRecord(text, record) ? kSuccess : kInvalidData;
}

Error CurrentStatus(const std::string& path, ServiceStatus& status) {
  StatusRecord record;
  const Error read = ReadStatusRecord(path, record);
  if (read == kFileNotFound) {
    status = StoppedStatus(kServiceNeverStarted);
    return kSuccess;
  }
  if (read != kSuccess && read != kInvalidData) return read;
  if (read == kInvalidData ||
      (record.status.currentState != kServiceStopped && !IsRunning(record.process))) {
    status = StoppedStatus(kProcessEndedUnexpectedly);
    return kSuccess;
  }
  status = record.status;
  return kSuccess;
}

}  // namespace platform::posix
