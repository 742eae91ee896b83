// Where the POSIX platform keeps the registry store, the event log and the service files.
#pragma once

#include <string>

#include "platform/error.h"

namespace platform::posix {

// HVS_STATE_DIR when set; else /var/lib/hvs when it can be created and written and passes
// CheckStateDirectory; else ${XDG_STATE_HOME:-$HOME/.local/state}/hvs, with the home
// directory from the user database when HOME is unset. The directory is created (mode
// 0700) when missing; the result is the path even when creation failed, so that the
// caller's own open reports the failure; empty when no home directory is known.
// kLeave resolves it in the same way without creating anything: a directory that is missing
// is taken where it would be created.
enum class Missing { kCreate, kLeave };
std::string StateDirectory(Missing missing = Missing::kCreate);

// 0 when StateDirectory() is a directory that nobody else controls: owned by this
// process's user or by root, and writable by neither group nor others. Else 5 (2 when it
// is missing). Call before trusting anything below it.
Error CheckStateDirectory();
// The same test of `directory`; on failure `why` (when given) says what is wrong, naming it.
Error CheckDirectory(const std::string& directory, std::string* why = nullptr);

// Creates `path` and every missing parent with `mode`; true when it exists afterwards.
bool MakeDirectories(const std::string& path, unsigned mode);

}  // namespace platform::posix
