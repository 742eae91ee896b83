// The files of the POSIX service control manager below the state directory.
#include "platform/posix/scm/service_files.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <thread>

#include "platform/posix/errno_map.h"
#include "platform/posix/scm/scm_internal.h"
#include "platform/posix/state_dir.h"

namespace platform::posix::service_files {

namespace {

constexpr std::chrono::milliseconds kLockPoll{5};

// A service's name as its files carry it: names compare without regard to ASCII case.
std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

std::string ServicePath(std::string_view service, const char* suffix) {
  return Directory() + '/' + LowerCase(service) + suffix;
}

}  // namespace

std::string Directory() {
  std::string directory = StateDirectory() + "/services";
  MakeDirectories(directory, 0700);
  return directory;
}

std::string StatusPath(std::string_view service) { return ServicePath(service, ".status"); }
std::string SocketPath(std::string_view service) { return ServicePath(service, ".sock"); }
std::string StartLockPath(std::string_view service) { return ServicePath(service, ".start.lock"); }
std::string DatabaseLockPath() { return Directory() + "/ServicesActive.lock"; }
std::string EntriesLockPath() { return Directory() + "/entries.lock"; }

void RemoveServiceFiles(std::string_view service) {
  for (const std::string& path : {StatusPath(service), SocketPath(service), StartLockPath(service)})
    ::unlink(path.c_str());
}

Error LockFile(const std::string& path, std::chrono::milliseconds wait, UniqueFd& lock) {
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
  if (!file) return LastErrno();
  // Polled rather than blocked, so that the wait has its limit.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return LastErrno();
    if (std::chrono::steady_clock::now() >= deadline) return kServiceDatabaseLocked;
    std::this_thread::sleep_for(kLockPoll);
  }
  lock = std::move(file);
  return kSuccess;
}

}  // namespace platform::posix::service_files
