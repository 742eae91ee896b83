// Win32 error numbers: the result type of every platform operation, on every target.
#pragma once

#include <cstdint>

namespace platform {

using Error = std::uint32_t;

inline constexpr Error kSuccess = 0;
inline constexpr Error kFileNotFound = 2;
inline constexpr Error kPathNotFound = 3;
inline constexpr Error kAccessDenied = 5;
inline constexpr Error kInvalidHandle = 6;
inline constexpr Error kNotEnoughMemory = 8;
inline constexpr Error kInvalidData = 13;
inline constexpr Error kGenFailure = 31;
inline constexpr Error kSharingViolation = 32;
inline constexpr Error kFileExists = 80;
inline constexpr Error kInvalidParameter = 87;
inline constexpr Error kCallNotImplemented = 120;
inline constexpr Error kInsufficientBuffer = 122;
inline constexpr Error kBadPathname = 161;
inline constexpr Error kBusy = 170;
inline constexpr Error kAlreadyExists = 183;
// ERROR_BAD_FILE_TYPE: a FIFO, device or socket where a regular file is wanted.
inline constexpr Error kNotRegularFile = 222;
inline constexpr Error kBadExeFormat = 193;
inline constexpr Error kMoreData = 234;
inline constexpr Error kNoMoreItems = 259;
inline constexpr Error kKeyDeleted = 1018;
inline constexpr Error kRegistryIoFailed = 1016;

}  // namespace platform
