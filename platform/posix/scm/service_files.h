// Where the POSIX service control manager keeps each service's status, control socket and locks.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/posix/unique_fd.h"

namespace platform::posix::service_files {

// StateDirectory()/services, created owner-only when missing.
std::string Directory();

// Service names compare without regard to ASCII case, so a service's files carry its name
// in lower case.
std::string StatusPath(std::string_view service);
std::string SocketPath(std::string_view service);
// Held while the service is being started, so that two starts cannot both begin.
std::string StartLockPath(std::string_view service);
// The service database lock of LockServiceDatabase.
std::string DatabaseLockPath();
// Held around every creation and deletion of an entry.
std::string EntriesLockPath();

// Removes the status, socket and start-lock files of a service whose entry is gone.
void RemoveServiceFiles(std::string_view service);

// Takes an exclusive flock on `path` (created mode 0600 when missing; opened read-only, so
// that an existing lock file works in a store that cannot be written; a link at `path` is
// refused with 1921). Waits up to `wait` for another holder to let go, then fails with 1055.
Error LockFile(const std::string& path, std::chrono::milliseconds wait, UniqueFd& lock);

}  // namespace platform::posix::service_files
