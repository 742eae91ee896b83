// The dispatched service's latest status report, kept until it is in the status file.
#pragma once

#include <chrono>
#include <mutex>

#include "platform/error.h"
#include "platform/posix/scm/service_status.h"
#include "platform/posix/unique_fd.h"
#include "platform/services.h"

namespace platform::posix::dispatcher {

// A report that could not be written is written again this often until it is.
inline constexpr int kRewriteIntervalMs = 200;
// How long the last report, stopped, is tried before the process goes all the same (its
// record then reads stopped with 1067).
inline constexpr std::chrono::seconds kFinalWriteLimit{30};

// Not locked: the dispatcher calls it with its own lock held (WriteFinal takes that lock).
class ReportWriter {
 public:
  // Writes into `file`, the status file that the starter opened, as process `self`. The
  // current report is start pending, as the starter has written it already.
  void Begin(UniqueFd file, const ProcessIdentity& self);
  void Close() { file_.reset(); }

  const ServiceStatus& Current() const { return current_; }
  // Whether the current report is not in the file yet.
  bool Unwritten() const { return unwritten_; }

  // Makes `status` the current report and writes it; when that fails (its error is the
  // result) the report stays unwritten.
  Error Write(const ServiceStatus& status);
  // Writes an unwritten report again.
  void Rewrite();
  // Tries an unwritten report until it is written, for up to kFinalWriteLimit, taking `lock`
  // around each try: the stopped record matters most.
  void WriteFinal(std::mutex& lock);

 private:
  Error WriteCurrent();

  UniqueFd file_;
  ProcessIdentity self_;
  ServiceStatus current_;
  bool unwritten_ = false;
};

}  // namespace platform::posix::dispatcher
