// Status files: fixed-length records with a checksum, overwritten in place.
#include "platform/posix/scm/service_status.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <string_view>

#include "platform/posix/errno_map.h"
#include "platform/posix/scm/scm_internal.h"
#include "platform/posix/unique_fd.h"

namespace platform::posix {

namespace {

// FNV-1a: enough to tell a record from one that a concurrent write left half done.
std::uint32_t Checksum(std::string_view text) {
  std::uint32_t hash = 2166136261U;
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619U;
  return hash;
}

std::string FormatRecord(const StatusRecord& record) {
  const ServiceStatus& s = record.status;
  char fields[kStatusRecordSize];
  std::snprintf(fields, sizeof fields, "%" PRId32 " %" PRIu64 " %s %u %u %u %u %u %u %u",
                record.process.pid, record.process.startTime,
                record.process.bootId.empty() ? "-" : record.process.bootId.c_str(), s.serviceType,
                s.currentState, s.controlsAccepted, s.win32ExitCode, s.serviceSpecificExitCode,
                s.checkPoint, s.waitHint);
  char line[kStatusRecordSize + 16];
  const int length = std::snprintf(line, sizeof line, "%s %08" PRIx32, fields, Checksum(fields));
  std::string text(line, static_cast<std::size_t>(length > 0 ? length : 0));
  text.resize(kStatusRecordSize - 1, ' ');
  return text + '\n';
}

bool ParseRecord(const std::string& text, StatusRecord& record) {
  if (text.size() != kStatusRecordSize || text.back() != '\n') return false;
  const std::size_t last = text.find_last_not_of(" \n");
  const std::size_t space = text.rfind(' ', last);
  if (last == std::string::npos || space == std::string::npos) return false;
  const std::string fields = text.substr(0, space);
  unsigned sum = 0;
  int used = 0;
  if (std::sscanf(text.c_str() + space + 1, "%8x%n", &sum, &used) != 1 ||
      space + 1 + static_cast<std::size_t>(used) != last + 1 || sum != Checksum(fields))
    return false;
  ServiceStatus& s = record.status;
  char boot[64] = {};
  used = 0;
  if (std::sscanf(fields.c_str(), "%" SCNd32 " %" SCNu64 " %63s %u %u %u %u %u %u %u%n",
                  &record.process.pid, &record.process.startTime, boot, &s.serviceType,
                  &s.currentState, &s.controlsAccepted, &s.win32ExitCode,
                  &s.serviceSpecificExitCode, &s.checkPoint, &s.waitHint, &used) != 10 ||
      static_cast<std::size_t>(used) != fields.size())
    return false;
  record.process.bootId = std::string_view(boot) == "-" ? std::string() : std::string(boot);
  return true;
}

ServiceStatus StoppedStatus(std::uint32_t exitCode) {
  ServiceStatus status;
  status.win32ExitCode = exitCode;
  return status;
}

}  // namespace

Error OpenStatusFile(const std::string& path, UniqueFd& file) {
  UniqueFd opened(
      ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
  if (!opened) return LastErrno();
  struct stat info {};
  if (::fstat(opened.get(), &info) != 0) return LastErrno();
  if (!S_ISREG(info.st_mode)) return kAccessDenied;
  file = std::move(opened);
  return kSuccess;
}

Error WriteStatusRecord(int file, const StatusRecord& record) {
  const std::string text = FormatRecord(record);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::pwrite(file, text.data() + done, text.size() - done,
                                   static_cast<off_t>(done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return LastErrno();
    if (wrote == 0) return kGenFailure;
    done += static_cast<std::size_t>(wrote);
  }
  struct stat info {};
  // A longer file (written by hand, or by something else) would not read as a record.
  if (::fstat(file, &info) == 0 && info.st_size != static_cast<off_t>(text.size()) &&
      ::ftruncate(file, static_cast<off_t>(text.size())) != 0)
    return LastErrno();
  return kSuccess;
}

Error WriteStatusRecord(const std::string& path, const StatusRecord& record) {
  UniqueFd file;
  if (const Error error = OpenStatusFile(path, file)) return error;
  return WriteStatusRecord(file.get(), record);
}

Error ReadStatusRecord(const std::string& path, StatusRecord& record) {
  constexpr int kAttempts = 20;
  for (int attempt = 1;; ++attempt) {
    std::string text;
    int error = 0;
    if (!ReadSmallFile(path, text, error)) return FromErrno(error);
    if (ParseRecord(text, record)) return kSuccess;
    if (attempt == kAttempts) return kInvalidData;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a write may be half done
  }
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
    status = StoppedStatus(kProcessAborted);
    return kSuccess;
  }
  status = record.status;
  return kSuccess;
}

}  // namespace platform::posix
