// The handles of an output pipe and its read under way, shared by the pipe and the process start.
#pragma once

#include <windows.h>

#include "platform/output_pipe.h"

namespace platform {

struct OutputPipe::Ends {
  static constexpr DWORD kBufferSize = 64 * 1024;

  HANDLE read = INVALID_HANDLE_VALUE;   // overlapped, never inherited
  HANDLE write = INVALID_HANDLE_VALUE;  // inheritable: for the child only
  HANDLE readDone = nullptr;            // manual-reset event of `overlapped`
  OVERLAPPED overlapped{};
  bool pending = false;  // a read into `buffer` is under way or done but not taken
  char buffer[kBufferSize];

  Ends() = default;
  ~Ends();
  Ends(const Ends&) = delete;
  Ends& operator=(const Ends&) = delete;

  // Starts a read when none is under way, so that `readDone` is set when there is
  // something to take. False when the pipe is closed or broken.
  bool Arm() noexcept;
};

}  // namespace platform
