// The machine's local time as an offset from UTC at a given instant, by its zone's rules.
#pragma once

#include <cstdint>

namespace platform {

// Seconds by which local time is ahead of UTC at `time` (UTC seconds since 1970), with
// daylight saving as the machine's zone has it then; false when the system cannot tell
// (for instance for times before 1970 or after 3000).
bool LocalOffsetAt(std::int64_t time, std::int32_t& offsetSeconds) noexcept;

}  // namespace platform
