// The files of the POSIX service control manager below the state directory.
#include "platform/posix/service_files.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "platform/posix/errno_map.h"
#include "platform/posix/state_dir.h"

namespace platform::posix::service_files {

namespace {

constexpr Error kServiceDatabaseLocked = 1055;

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

Error LockFile(const std::string& path, bool wait, UniqueFd& lock) {
  UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!file) return LastErrno();
  int locked = 0;
  do locked = ::flock(file.get(), LOCK_EX | (wait ? 0 : LOCK_NB));
  while (locked != 0 && errno == EINTR);
  if (locked != 0) return errno == EWOULDBLOCK ? kServiceDatabaseLocked : LastErrno();
  lock = std::move(file);
  return kSuccess;
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

bool SameName(std::string_view a, std::string_view b) { return LowerCase(a) == LowerCase(b); }

}  // namespace platform::posix::service_files
