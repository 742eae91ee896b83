// The event ids that the service writes: the top two bits give the severity.
#pragma once

#include <cstdint>

namespace hvs {

// Information, with the display name as the one insertion string.
inline constexpr std::uint32_t kEventStarted = 0x40000001;
inline constexpr std::uint32_t kEventInstalled = 0x40000002;
inline constexpr std::uint32_t kEventStopped = 0x40000003;
inline constexpr std::uint32_t kEventPaused = 0x40000004;
inline constexpr std::uint32_t kEventContinued = 0x40000005;
inline constexpr std::uint32_t kEventShutdown = 0x40000009;

// A task's result turned from success (or none) to failure: a warning with the task's Name
// and its "LastResult"; and back: information with the Name. On changes only.
inline constexpr std::uint32_t kEventTaskFailed = 0x80000010;
inline constexpr std::uint32_t kEventTaskSucceededAgain = 0x40000011;

// Errors of the installation and control verbs, with the event failure text.
inline constexpr std::uint32_t kEventConnectFailed = 0xC0000006;
inline constexpr std::uint32_t kEventOpenFailed = 0xC0000007;
inline constexpr std::uint32_t kEventDeleteFailed = 0xC0000008;
inline constexpr std::uint32_t kEventStartFailed = 0xC000000A;
inline constexpr std::uint32_t kEventStopFailed = 0xC000000B;  // the error code in decimal
inline constexpr std::uint32_t kEventContinueFailed = 0xC000000C;
inline constexpr std::uint32_t kEventPauseFailed = 0xC000000D;
inline constexpr std::uint32_t kEventWaitFailed = 0xC000000E;  // and the target state
inline constexpr std::uint32_t kEventQueryFailed = 0xC000000F;

}  // namespace hvs
