// Where the POSIX platform keeps the registry store and the event log.
#pragma once

#include <string>

namespace platform::posix {

// HVS_STATE_DIR when set; else /var/lib/hvs when it can be created and written; else
// ${XDG_STATE_HOME:-$HOME/.local/state}/hvs. The directory is created (mode 0700) when
// missing; the result is the path even when creation failed, so that the caller's own
// open reports the failure.
std::string StateDirectory();

// Creates `path` and every missing parent with `mode`; true when it exists afterwards.
bool MakeDirectories(const std::string& path, unsigned mode);

}  // namespace platform::posix
