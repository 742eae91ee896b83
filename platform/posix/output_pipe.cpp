// Output pipes on POSIX: pipe2 with a non-blocking read end.
#include "platform/output_pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/errno_map.h"
#include "platform/posix/output_pipe_ends.h"

namespace platform {

namespace {
constexpr std::size_t kReadSize = 64 * 1024;
constexpr std::size_t kPipeSize = 1024 * 1024;
}  // namespace

OutputPipe::OutputPipe() noexcept = default;
OutputPipe::~OutputPipe() = default;
OutputPipe::OutputPipe(OutputPipe&&) noexcept = default;
OutputPipe& OutputPipe::operator=(OutputPipe&&) noexcept = default;

Error OutputPipe::Create() {
  ends_.reset();
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return posix::LastErrno();
  auto ends = std::make_unique<Ends>();
  ends->read.reset(fds[0]);
  ends->write.reset(fds[1]);
  if (::fcntl(fds[0], F_SETFL, O_NONBLOCK) != 0) return posix::LastErrno();
  // A larger pipe lets a busy writer go on while the watcher is elsewhere; the system may
  // refuse it (pipe-max-size), and the default then serves.
  ::fcntl(fds[1], F_SETPIPE_SZ, static_cast<int>(kPipeSize));
  ends_ = std::move(ends);
  return kSuccess;
}

bool OutputPipe::IsOpen() const noexcept { return ends_ && ends_->read.valid(); }

void OutputPipe::CloseWriteEnd() noexcept {
  if (ends_) ends_->write.reset();
}

OutputPipe::ReadResult OutputPipe::Read(std::string& into) {
  if (!IsOpen()) return ReadResult::kFailed;
  // Straight into the string: a run's output is copied once on its way in.
  const std::size_t before = into.size();
  into.resize(before + kReadSize);
  ssize_t count = 0;
  do count = ::read(ends_->read.get(), into.data() + before, kReadSize);
  while (count < 0 && errno == EINTR);
  into.resize(before + static_cast<std::size_t>(count > 0 ? count : 0));
  if (count > 0) return ReadResult::kData;
  if (count == 0) return ReadResult::kClosed;
  return errno == EAGAIN || errno == EWOULDBLOCK ? ReadResult::kEmpty : ReadResult::kFailed;
}

}  // namespace platform
