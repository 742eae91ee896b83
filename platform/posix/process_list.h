// The processes as a /proc-like directory lists them; the process list reads /proc.
#pragma once

#include <dirent.h>

#include <string>

#include "platform/process.h"
#include "platform/unique_any.h"

namespace platform::posix {

using UniqueDir = UniqueAny<DIR*, &::closedir>;

// Whether a /proc entry is a process: a directory named by digits alone.
bool IsProcessEntry(const dirent& entry);

// VisitRunningExecutables over `procDirectory` instead of /proc: its numeric entries are
// processes, each one's "exe" link names its executable. Entries without one (kernel
// threads) are skipped and do not count towards the 1024 processes looked at.
Error VisitExecutablesIn(const std::string& procDirectory, const ExecutableVisitor& visitor);

}  // namespace platform::posix
