// Resolution and checking of the POSIX state directory.
#include "platform/posix/state_dir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/posix/errno_map.h"

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

// Somebody else controls a directory that another user owns or that others may write to.
Error CheckDirectory(const std::string& path) {
  if (path.empty()) return kFileNotFound;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return LastErrno();
  if (!S_ISDIR(info.st_mode)) return kAccessDenied;
  const bool trustedOwner = info.st_uid == ::geteuid() || info.st_uid == 0;
  return trustedOwner && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 ? kSuccess : kAccessDenied;
}

bool UsableDirectory(const std::string& path) {
  return MakeDirectories(path, 0700) && ::access(path.c_str(), W_OK | X_OK) == 0 &&
         CheckDirectory(path) == kSuccess;
}

// The user database's word on the home directory; never a shared place such as /tmp.
std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  std::vector<char> buffer(16384);
  passwd entry {};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr || *found->pw_dir == '\0')
    return std::string();
  return found->pw_dir;
}

std::string UserStateDirectory() {
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) return std::string(xdg) + "/hvs";
  const std::string home = HomeDirectory();
  return home.empty() ? std::string() : home + "/.local/state/hvs";
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
  if (!user.empty()) MakeDirectories(user, 0700);
  return user;
}

Error CheckStateDirectory() { return CheckDirectory(StateDirectory()); }

}  // namespace platform::posix
