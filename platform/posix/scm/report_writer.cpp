// Status reports written into the status file, and written again until they are in it.
#include "platform/posix/scm/report_writer.h"

#include <thread>
#include <utility>

namespace platform::posix::dispatcher {

void ReportWriter::Begin(UniqueFd file, const ProcessIdentity& self) {
  file_ = std::move(file);
  self_ = self;
  unwritten_ = false;
  current_ = ServiceStatus{};
  current_.currentState = kServiceStartPending;
}

Error ReportWriter::Write(const ServiceStatus& status) {
  current_ = status;
  return WriteCurrent();
}

void ReportWriter::Rewrite() {
  if (unwritten_) WriteCurrent();
}

void ReportWriter::WriteFinal(std::mutex& lock) {
  const auto deadline = std::chrono::steady_clock::now() + kFinalWriteLimit;
  for (;;) {
    {
      const std::lock_guard<std::mutex> guard(lock);
      if (!unwritten_ || WriteCurrent() == kSuccess) return;
    }
    if (std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(kRewriteIntervalMs));
  }
}

Error ReportWriter::WriteCurrent() {
  const Error error = WriteStatusRecord(file_.get(), StatusRecord{self_, current_});
  unwritten_ = error != kSuccess;
  return error;
}

}  // namespace platform::posix::dispatcher
