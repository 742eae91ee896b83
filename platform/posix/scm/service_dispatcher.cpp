// The dispatcher: the control socket served on the caller's thread, the service on its own.
#include "platform/posix/scm/service_dispatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/posix/errno_map.h"
#include "platform/posix/scm/control_channel.h"
#include "platform/posix/scm/launch_handshake.h"
#include "platform/posix/scm/report_writer.h"
#include "platform/posix/scm/scm_internal.h"
#include "platform/posix/scm/service_registration.h"
#include "platform/posix/scm/service_status.h"
#include "platform/posix/scm/termination.h"

namespace platform::posix::dispatcher {

namespace {

namespace channel = control_channel;

// A client that connects and says nothing must not hold the service's controls up long.
constexpr std::chrono::milliseconds kRequestTimeout{2000};

class Dispatcher {
 public:
  Error Run(ServiceMainFunction entry);
  ServiceStatusHandle Register(ControlHandlerExFunction extended, ControlHandlerFunction plain,
                               void* context, Error& error);
  Error Report(ServiceStatusHandle handle, const ServiceStatus& status);

 private:
  Error Begin(const Launch& launch);
  void Serve();
  int PollTimeout();
  void ServeConnection(int connection);
  void DeliverTermination();
  std::uint32_t CallHandler(std::uint32_t control);
  void End();

  std::mutex lock_;
  bool active_ = false;
  bool stopped_ = false;
  ServiceStatusHandle generation_ = 0;
  std::string serviceName_;
  std::string socketPath_;
  ReportWriter report_;
  ControlHandlerExFunction extended_ = nullptr;
  ControlHandlerFunction plain_ = nullptr;
  void* context_ = nullptr;
  UniqueFd listener_;
  UniqueFd wake_;  // an eventfd, set by the stopped report
  Termination termination_;  // the serving thread's alone: not under the lock
};

Error Dispatcher::Begin(const Launch& launch) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (active_) return kServiceAlreadyRunning;
  ProcessIdentity self;
  if (!IdentifyProcess(::getpid(), self)) return kGenFailure;
  UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake) return LastErrno();
  UniqueFd termination = TakeTermination();
  if (!termination) return LastErrno();
  UniqueFd listener = Adopt(launch.listener, S_IFSOCK);
  UniqueFd statusFile = Adopt(launch.status, S_IFREG);
  if (!listener || !statusFile) return kFailedServiceControllerConnect;
  listener_ = std::move(listener);
  report_.Begin(std::move(statusFile), self);
  wake_ = std::move(wake);
  termination_.Reset(std::move(termination));
  serviceName_ = launch.serviceName;
  socketPath_ = launch.socketPath;
  extended_ = nullptr;
  plain_ = nullptr;
  context_ = nullptr;
  stopped_ = false;
  active_ = true;
  ++generation_;
  return kSuccess;
}

Error Dispatcher::Run(ServiceMainFunction entry) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (active_) return kServiceAlreadyRunning;
  }
  Launch launch;
  if (!TakeLaunch(launch)) return kFailedServiceControllerConnect;
  if (const Error error = Begin(launch)) return error;
  std::thread service;
  try {
    service = std::thread([this, entry] {
      std::string name = serviceName_;
      char* argv[] = {name.data(), nullptr};
      entry(1, argv);
    });
  } catch (const std::system_error&) {
    ::unlink(socketPath_.c_str());
    End();
    return kServiceNoThread;
  }
  AnswerStarter(launch.ready);
  Serve();
  service.join();
  report_.WriteFinal(lock_);
  End();
  return kSuccess;
}

void Dispatcher::Serve() {
  for (;;) {
    pollfd waits[3] = {{listener_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0},
                       {termination_.fd(), POLLIN, 0}};
    const int ready = ::poll(waits, 3, PollTimeout());
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (stopped_) return;
      report_.Rewrite();
    }
    if (ready <= 0) {  // EINTR or a time-out: nothing else can fail here
      DeliverTermination();
      continue;
    }
    if (waits[2].revents & POLLIN) termination_.Take();
    DeliverTermination();
    if ((waits[0].revents & POLLIN) == 0) continue;
    UniqueFd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (connection) ServeConnection(connection.get());
  }
}

// Woken now and then while a record waits to be written or a stop to be delivered.
int Dispatcher::PollTimeout() {
  const std::lock_guard<std::mutex> guard(lock_);
  return report_.Unwritten() || termination_.Pending() ? kRewriteIntervalMs : -1;
}

// A stop for SIGTERM, once the service is past its start and not stopping already.
void Dispatcher::DeliverTermination() {
  std::uint32_t state = 0;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    state = report_.Current().currentState;
  }
  if (termination_.StopDue(state)) CallHandler(kControlStop);
}

void Dispatcher::ServeConnection(int connection) {
  bool allowed = false;
  channel::Request request{};
  const bool received = channel::ReceiveRequest(connection, kRequestTimeout, allowed, request);
  if (!received) return;
  channel::Reply reply{};
  reply.answer = allowed ? CallHandler(request.control) : kAccessDenied;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    reply.status = report_.Current();
  }
  channel::SendReply(connection, reply);
}

// The handler runs without the lock: it reports its state through Report.
std::uint32_t Dispatcher::CallHandler(std::uint32_t control) {
  ControlHandlerExFunction extended = nullptr;
  ControlHandlerFunction plain = nullptr;
  void* context = nullptr;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    extended = extended_;
    plain = plain_;
    context = context_;
  }
  if (extended != nullptr) return extended(control, 0, nullptr, context);
  if (plain == nullptr) return kServiceCannotAcceptControl;
  plain(control);
  return kSuccess;
}

void Dispatcher::End() {
  const std::lock_guard<std::mutex> guard(lock_);
  active_ = false;
  listener_.reset();
  wake_.reset();
  termination_.Close();
  report_.Close();
  extended_ = nullptr;
  plain_ = nullptr;
}

ServiceStatusHandle Dispatcher::Register(ControlHandlerExFunction extended,
                                         ControlHandlerFunction plain, void* context, Error& error) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (!active_) {
    error = kFailedServiceControllerConnect;
    return 0;
  }
  extended_ = extended;
  plain_ = plain;
  context_ = context;
  error = kSuccess;
  return generation_;
}

Error Dispatcher::Report(ServiceStatusHandle handle, const ServiceStatus& status) {
  std::string deleteName;
  Error written = kSuccess;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    // After stopped the handle is spent: a service started next owns the status file.
    if (!active_ || stopped_ || handle == 0 || handle != generation_) return kInvalidHandle;
    if (status.currentState < kServiceStopped || status.currentState > kServicePaused)
      return kInvalidData;
    const bool stopping = status.currentState == kServiceStopped;
    // Gone before the record says stopped: a service started next cannot lose its new
    // socket to this one's clean-up.
    if (stopping) ::unlink(socketPath_.c_str());
    // Kept when the write fails: Serve writes it again until it is in the file.
    written = report_.Write(status);
    if (stopping) {
      stopped_ = true;
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t woke = ::write(wake_.get(), &one, sizeof one);
      if (written == kSuccess) deleteName = serviceName_;  // else the next look-up removes it
    }
  }
  // The entry was deleted while the service ran; it goes now that it has stopped.
  if (!deleteName.empty())
    service_registration::RemoveIfMarkedForDelete(deleteName, kFinalWriteLimit);
  return written;
}

Dispatcher& TheDispatcher() {
  // Never destroyed: a service thread may still report while the process exits.
  static Dispatcher& dispatcher = *new Dispatcher;
  return dispatcher;
}

}  // namespace

Error Run(ServiceMainFunction entry) { return TheDispatcher().Run(entry); }

ServiceStatusHandle Register(ControlHandlerExFunction extended, ControlHandlerFunction plain,
                             void* context, Error& error) noexcept {
  try {
    return TheDispatcher().Register(extended, plain, context, error);
  } catch (...) {
    error = kNotEnoughMemory;
    return 0;
  }
}

Error Report(ServiceStatusHandle handle, const ServiceStatus& status) noexcept {
  try {
    return TheDispatcher().Report(handle, status);
  } catch (...) {
    return kNotEnoughMemory;
  }
}

}  // namespace platform::posix::dispatcher
