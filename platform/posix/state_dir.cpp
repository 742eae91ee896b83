// Resolution and checking of the POSIX state directory.
#include "platform/posix/state_dir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

// Somebody else controls a directory that another user owns or that others may write to.
Error CheckDirectory(const std::string& path, std::string* why) {
  const auto refuse = [&](Error error, const std::string& reason) {
    if (why != nullptr) *why = reason;
    return error;
  };
  if (path.empty()) return refuse(kFileNotFound, "no state directory: HOME is not known");
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int error = errno;
    return refuse(FromErrno(error), "the state directory " + path + " cannot be used: " +
                                        std::strerror(error));
  }
  if (!S_ISDIR(info.st_mode))
    return refuse(kAccessDenied, "the state directory " + path + " is not a directory");
  if (info.st_uid != ::geteuid() && info.st_uid != 0)
    return refuse(kAccessDenied, "the state directory " + path + " belongs to user " +
                                     std::to_string(info.st_uid) +
                                     ", neither to this process's user nor to root");
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return refuse(kAccessDenied, "the state directory " + path + " may be written by " +
                                     ((info.st_mode & S_IWOTH) ? "others" : "its group") +
                                     " (mode " + mode + ")");
  }
  return kSuccess;
}

namespace {

// Whether `path` could be made: its nearest existing ancestor is a directory this process
// may write to.
bool CouldBeMade(std::string path) {
  struct stat info {};
  for (;;) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return false;
    path.resize(slash == 0 ? 1 : slash);
    if (::stat(path.c_str(), &info) == 0)
      return S_ISDIR(info.st_mode) && ::access(path.c_str(), W_OK | X_OK) == 0;
    if (slash == 0) return false;
  }
}

bool UsableDirectory(const std::string& path, Missing missing) {
  struct stat info {};
  if (missing == Missing::kLeave && ::stat(path.c_str(), &info) != 0)
    return errno == ENOENT && CouldBeMade(path);
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

std::string StateDirectory(Missing missing) {
  const bool create = missing == Missing::kCreate;
  if (const char* configured = std::getenv("HVS_STATE_DIR"); configured && *configured) {
    if (create) MakeDirectories(configured, 0700);
    return configured;
  }
  const std::string system = "/var/lib/hvs";
  if (UsableDirectory(system, missing)) return system;
  const std::string user = UserStateDirectory();
  if (create && !user.empty()) MakeDirectories(user, 0700);
  return user;
}

Error CheckStateDirectory() { return CheckDirectory(StateDirectory()); }

}  // namespace platform::posix
