// Output pipes on Windows: a named pipe read with overlapped reads, whose event a process
// wait includes; anonymous pipes cannot be read that way.
#include "platform/output_pipe.h"

#include <atomic>
#include <string>

#include "platform/win32/output_pipe_ends.h"

namespace platform {

namespace {

Error LastError() noexcept { return static_cast<Error>(::GetLastError()); }

// Unique within the machine: this process's id and a counter of its own.
std::string NewPipeName() {
  static std::atomic<unsigned long> counter{0};
  return "\\\\.\\pipe\\HVS-output-" + std::to_string(::GetCurrentProcessId()) + "-" +
         std::to_string(counter.fetch_add(1));
}

}  // namespace

OutputPipe::Ends::~Ends() {
  if (pending && ::CancelIoEx(read, &overlapped)) {
    // The buffer must outlive the read, which ends at once once cancelled.
    DWORD ignored = 0;
    ::GetOverlappedResult(read, &overlapped, &ignored, TRUE);
  }
  if (read != INVALID_HANDLE_VALUE) ::CloseHandle(read);
  if (write != INVALID_HANDLE_VALUE) ::CloseHandle(write);
  if (readDone != nullptr) ::CloseHandle(readDone);
}

bool OutputPipe::Ends::Arm() noexcept {
  if (pending) return true;
  overlapped = OVERLAPPED{};
  overlapped.hEvent = readDone;
  // A read that completes at once also sets the event; its bytes are taken as any others.
  if (::ReadFile(read, buffer, kBufferSize, nullptr, &overlapped) ||
      ::GetLastError() == ERROR_IO_PENDING) {
    pending = true;
    return true;
  }
  return false;
}

OutputPipe::OutputPipe() noexcept = default;
OutputPipe::~OutputPipe() = default;
OutputPipe::OutputPipe(OutputPipe&&) noexcept = default;
OutputPipe& OutputPipe::operator=(OutputPipe&&) noexcept = default;

Error OutputPipe::Create() {
  ends_.reset();
  auto ends = std::make_unique<Ends>();
  const std::string name = NewPipeName();
  ends->read = ::CreateNamedPipeA(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, Ends::kBufferSize, 0, nullptr);
  if (ends->read == INVALID_HANDLE_VALUE) return LastError();
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  ends->write = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, &inherited, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ends->write == INVALID_HANDLE_VALUE) return LastError();
  ends->readDone = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (ends->readDone == nullptr) return LastError();
  ends_ = std::move(ends);
  return kSuccess;
}

bool OutputPipe::IsOpen() const noexcept {
  return ends_ && ends_->read != INVALID_HANDLE_VALUE;
}

void OutputPipe::CloseWriteEnd() noexcept {
  if (!ends_ || ends_->write == INVALID_HANDLE_VALUE) return;
  ::CloseHandle(ends_->write);
  ends_->write = INVALID_HANDLE_VALUE;
}

OutputPipe::ReadResult OutputPipe::Read(std::string& into) {
  if (!IsOpen()) return ReadResult::kFailed;
  Ends& ends = *ends_;
  if (!ends.Arm())
    return ::GetLastError() == ERROR_BROKEN_PIPE ? ReadResult::kClosed : ReadResult::kFailed;
  DWORD count = 0;
  if (!::GetOverlappedResult(ends.read, &ends.overlapped, &count, FALSE)) {
    switch (::GetLastError()) {
      case ERROR_IO_INCOMPLETE: return ReadResult::kEmpty;
      case ERROR_BROKEN_PIPE: ends.pending = false; return ReadResult::kClosed;
      case ERROR_MORE_DATA: break;  // a message pipe's part; not for a byte pipe
      default: ends.pending = false; return ReadResult::kFailed;
    }
  }
  ends.pending = false;
  into.append(ends.buffer, count);
  return ReadResult::kData;
}

}  // namespace platform
