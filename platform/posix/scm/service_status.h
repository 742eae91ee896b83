// A service's status file: its latest status report and the process that made it.
#pragma once

#include <cstddef>
#include <string>

#include "platform/error.h"
#include "platform/posix/scm/scm_internal.h"
#include "platform/posix/unique_fd.h"
#include "platform/services.h"

namespace platform::posix {

struct StatusRecord {
  ProcessIdentity process;
  ServiceStatus status;
};

// A record is a line of fixed length with a checksum, overwritten in place: a full disk
// cannot refuse it (the file's blocks are there already), and a reader that meets a
// write half done reads again. Links are never followed (1921 for one at `path`).
inline constexpr std::size_t kStatusRecordSize = 256;
// Writes `record` into the file at `path`, created owner-only when missing.
Error WriteStatusRecord(const std::string& path, const StatusRecord& record);
// Writes `record` into the open status file `file`.
Error WriteStatusRecord(int file, const StatusRecord& record);
// Opens the file at `path` for WriteStatusRecord(int, ...), created owner-only when
// missing; a regular file only.
Error OpenStatusFile(const std::string& path, UniqueFd& file);
// 2 when there is no file; 13 when it holds no record.
Error ReadStatusRecord(const std::string& path, StatusRecord& record);

// The status of a service as its status file tells it: stopped with 1077 when it never
// ran; stopped with 1067 when its process ended without reporting stopped (or left a
// file that does not read). Fails only when the file cannot be read at all (e.g. 5).
Error CurrentStatus(const std::string& path, ServiceStatus& status);

}  // namespace platform::posix
