// The heap's unused memory, handed back to the system.
#pragma once

namespace platform {

// Returns the heap's free pages to the system, in every thread's arena: memory that many
// threads freed stays resident otherwise, and a service that runs for years grows by it.
// Costs a walk over the heap; call it now and then, not per tick.
void ReleaseFreeMemory() noexcept;

}  // namespace platform
