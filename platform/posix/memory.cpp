// Free heap memory back to the system: glibc keeps what a thread's arena freed.
#include "platform/memory.h"

#include <malloc.h>

namespace platform {

void ReleaseFreeMemory() noexcept { ::malloc_trim(0); }

}  // namespace platform
