// The owner of a POSIX file descriptor.
#pragma once

#include <unistd.h>

#include "platform/unique_any.h"

namespace platform::posix {

using UniqueFd = UniqueAny<int, &::close, -1>;

}  // namespace platform::posix
