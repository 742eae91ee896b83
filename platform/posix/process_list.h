// The running executables as a /proc-like directory lists them; the process list reads /proc.
#pragma once

#include <string>

#include "platform/process.h"

namespace platform::posix {

// VisitRunningExecutables over `procDirectory` instead of /proc: its numeric entries are
// processes, each one's "exe" link names its executable. Entries without one (kernel
// threads) are skipped and do not count towards the 1024 processes looked at.
Error VisitExecutablesIn(const std::string& procDirectory, const ExecutableVisitor& visitor);

}  // namespace platform::posix
