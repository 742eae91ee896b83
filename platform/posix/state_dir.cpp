// Resolution of the POSIX state directory.
#include "platform/posix/state_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform::posix {

bool MakeDirectories(const std::string& path, unsigned mode) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  const auto slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash), mode))
    return false;
  return ::mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

namespace {

bool UsableDirectory(const std::string& path) {
  return MakeDirectories(path, 0700) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

std::string UserStateDirectory() {
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) return std::string(xdg) + "/hvs";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/state/hvs";
}

}  // namespace

std::string StateDirectory() {
  if (const char* configured = std::getenv("HVS_STATE_DIR"); configured && *configured) {
    MakeDirectories(configured, 0700);
    return configured;
  }
  const std::string system = "/var/lib/hvs";
  if (UsableDirectory(system)) return system;
  const std::string user = UserStateDirectory();
  MakeDirectories(user, 0700);
  return user;
}

}  // namespace platform::posix
