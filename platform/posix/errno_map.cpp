// Mapping of errno values to the Win32 error numbers that the core expects.
#include "platform/posix/errno_map.h"

#include <cerrno>

namespace platform::posix {

namespace {
constexpr Error kDiskFull = 112;
constexpr Error kCantResolveFilename = 1921;
}  // namespace

Error FromErrno(int error) noexcept {
  switch (error) {
    case 0: return kSuccess;
    case ENOENT: return kFileNotFound;
    case ENOTDIR: return kPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return kAccessDenied;
    case EBADF: return kInvalidHandle;
    case ENOMEM: return kNotEnoughMemory;
    case EEXIST:
    case ENOTEMPTY: return kAlreadyExists;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK: return kSharingViolation;
    case EINVAL: return kInvalidParameter;
    case ENOSYS:
    case ENOTSUP: return kCallNotImplemented;
    case ENAMETOOLONG: return kBadPathname;
    case E2BIG: return kInsufficientBuffer;
    case ENOEXEC: return kBadExeFormat;
    case ENOSPC:
    case EDQUOT: return kDiskFull;
    case ELOOP: return kCantResolveFilename;  // a link where none may be followed
    default: return kGenFailure;
  }
}

Error LastErrno() noexcept { return FromErrno(errno); }

}  // namespace platform::posix
