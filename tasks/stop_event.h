// The one stop event that tells every process watcher the service is stopping.
#pragma once

#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/manual_reset_event.h"

namespace hvs {

// The name the program entry gives the event (on Windows one object per machine).
inline constexpr const char* kStopEventName = "HVSThreadStopEvent";

// Creates the event, not set, in place of the one held. Every watcher keeps the event it
// was started with, so replacing it (a new run, a new test) never closes a handle that a
// watcher waits on. `name` "" makes an unnamed event of this process alone. 0 on
// success; on failure no event is held.
platform::Error CreateStopEvent(const std::string& name);

// Sets the event held: every watcher started with it sees the stop, now or whenever it
// waits. 6 when no event is held.
platform::Error SetStopEvent();

// Gives up the event held; watchers that still wait on it keep it open.
void CloseStopEvent();

// The event held, shared with the caller for as long as it needs it; null when none.
std::shared_ptr<const platform::ManualResetEvent> CurrentStopEvent();

}  // namespace hvs
