// Free heap memory back to the system: the process heap decommits what it can.
#include "platform/memory.h"

#include <windows.h>

namespace platform {

void ReleaseFreeMemory() noexcept { ::HeapCompact(::GetProcessHeap(), 0); }

}  // namespace platform
