// The two descriptors of an output pipe, shared by the pipe and the process start.
#pragma once

#include "platform/output_pipe.h"
#include "platform/posix/unique_fd.h"

namespace platform {

struct OutputPipe::Ends {
  posix::UniqueFd read;   // non-blocking, close-on-exec
  posix::UniqueFd write;  // close-on-exec: only the child's copy of it survives the exec
};

}  // namespace platform
