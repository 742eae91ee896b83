// The service side of the POSIX service control manager: one dispatched service per process.
#pragma once

#include "platform/error.h"
#include "platform/services.h"

namespace platform::posix::dispatcher {

// StartServiceDispatcher: 1063 unless this process was started by LaunchService (the
// variables of its environment are taken away, so that children do not inherit them);
// 1056 while a dispatcher already runs. Otherwise takes over the control socket and the
// status file that the starter handed over, tells the starter it has taken over, runs
// `entry` on a new thread with the service's name as its only argument and serves
// controls on the calling thread until the service reports stopped; then joins that
// thread and returns 0. SIGTERM is blocked in the calling thread and the threads it
// starts (call it before the process starts others) and becomes a stop control, held
// back while the service is still start pending.
Error Run(ServiceMainFunction entry);

// Registers the handler of the dispatched service (only one of the two forms is set); the
// name is not looked at, as Windows does not for a service of its own process. 0 with
// 1063 when no dispatcher runs.
ServiceStatusHandle Register(ControlHandlerExFunction extended, ControlHandlerFunction plain,
                             void* context, Error& error) noexcept;

// Writes `status` to the service's status file; 6 unless `handle` is the running
// dispatcher's, 13 for a state outside 1..7. A write that fails (its error is the result)
// is tried again until it succeeds, so that the file ends up with the real state; the
// stopped report is tried for up to 30 s before the process ends. A stopped report
// closes the control socket first and removes an entry marked for deletion afterwards.
Error Report(ServiceStatusHandle handle, const ServiceStatus& status) noexcept;

}  // namespace platform::posix::dispatcher
