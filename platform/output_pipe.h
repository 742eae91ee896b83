// A pipe that a started process writes its standard output and error to, and that this
// process reads without blocking, beside the wait on the process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/unique_any.h"

namespace platform {

// One pipe per started process, used by one thread at a time. Move-only; the destructor
// closes both ends (on Windows after cancelling a read under way). A process that still
// writes to the pipe once it is closed gets an error for its write (POSIX: SIGPIPE).
class OutputPipe {
 public:
  enum class ReadResult {
    kData,    // bytes were appended
    kEmpty,   // nothing to read now; a wait with this pipe sees when there is
    kClosed,  // every writer has closed its end
    kFailed,  // the read failed: give the pipe up
  };

  OutputPipe() noexcept;
  ~OutputPipe();
  OutputPipe(OutputPipe&&) noexcept;
  OutputPipe& operator=(OutputPipe&&) noexcept;
  OutputPipe(const OutputPipe&) = delete;
  OutputPipe& operator=(const OutputPipe&) = delete;

  // Makes both ends, replacing any held. The write end is handed to Process::Create and
  // to nothing else; the read end is never inherited. 0 or the system's error.
  Error Create();
  bool IsOpen() const noexcept;
  // Closes this process's copy of the write end, which Process::Create does once the
  // child has its own, so that the pipe reads as closed when the child's writers have gone.
  void CloseWriteEnd() noexcept;
  // Appends at most one buffer's worth (64 KiB) of what can be read now to `into`.
  ReadResult Read(std::string& into);

 private:
  friend class Process;
  struct Ends;  // the platform's handles and, on Windows, the read under way
  std::unique_ptr<Ends> ends_;
};

}  // namespace platform
