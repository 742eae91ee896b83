// The dispatcher: the control socket served on the caller's thread, the service on its own.
#include "platform/posix/scm/service_dispatcher.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/posix/errno_map.h"
#include "platform/posix/scm/control_channel.h"
#include "platform/posix/scm/scm_internal.h"
#include "platform/posix/scm/service_files.h"
#include "platform/posix/scm/service_launch.h"
#include "platform/posix/scm/service_registration.h"
#include "platform/posix/scm/service_status.h"

namespace platform::posix::dispatcher {

namespace {

namespace channel = control_channel;

// A client that connects and says nothing must not hold the service's controls up long.
constexpr std::chrono::milliseconds kRequestTimeout{2000};

// A status report that could not be written is written again this often until it is.
constexpr int kRewriteIntervalMs = 200;
// How long the last report, stopped, is tried before the process goes all the same (its
// record then reads stopped with 1067).
constexpr std::chrono::seconds kFinalWriteLimit{30};

// What the starter left in the environment, taken out of it.
struct Launch {
  std::string socketPath;
  std::string serviceName;
  int ready = -1;
  int listener = -1;
  int status = -1;
};

int DescriptorOf(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0' ? std::atoi(value) : -1;
}

bool TakeLaunch(Launch& launch) {
  const char* socket = std::getenv(kControlSocketVariable);
  const char* name = std::getenv(kServiceNameVariable);
  if (socket == nullptr || name == nullptr || *socket == '\0' || *name == '\0') return false;
  launch.socketPath = socket;
  launch.serviceName = name;
  launch.ready = DescriptorOf(kReadyDescriptorVariable);
  launch.listener = DescriptorOf(kListenerDescriptorVariable);
  launch.status = DescriptorOf(kStatusDescriptorVariable);
  for (const char* variable : {kControlSocketVariable, kServiceNameVariable, kReadyDescriptorVariable,
                               kListenerDescriptorVariable, kStatusDescriptorVariable})
    ::unsetenv(variable);
  return true;
}

// Only descriptors of the kinds the starter hands over; a stale number could be anybody's.
bool IsKind(int fd, mode_t kind) {
  struct stat info {};
  return fd >= 0 && ::fstat(fd, &info) == 0 && (info.st_mode & S_IFMT) == kind;
}

// Takes `fd` over, close-on-exec, so that the service's children do not inherit it.
UniqueFd Adopt(int fd, mode_t kind) {
  if (!IsKind(fd, kind) || ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return UniqueFd();
  return UniqueFd(fd);
}

// SIGTERM (a shutdown, an operator's kill) comes to the dispatcher as a stop: blocked in
// this thread and in every thread started from it, and read from a signalfd.
UniqueFd TakeTermination() {
  sigset_t signals;
  ::sigemptyset(&signals);
  ::sigaddset(&signals, SIGTERM);
  if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return UniqueFd();
  return UniqueFd(::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
}

// Only the socket the starter handed over; a stale number could be anybody's descriptor.
void AnswerStarter(int ready) {
  if (!IsKind(ready, S_IFSOCK)) return;
  [[maybe_unused]] const ssize_t sent = ::send(ready, "r", 1, MSG_NOSIGNAL);
  ::close(ready);
}

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
  void TakeSignal();
  void DeliverTermination();
  std::uint32_t CallHandler(std::uint32_t control);
  Error WriteCurrent();
  void WriteFinal();
  void End();

  std::mutex lock_;
  bool active_ = false;
  bool stopped_ = false;
  ServiceStatusHandle generation_ = 0;
  std::string serviceName_;
  std::string socketPath_;
  UniqueFd statusFile_;
  bool unwritten_ = false;  // current_ is not in the status file yet
  bool terminating_ = false;  // SIGTERM came while no stop could be delivered yet
  ProcessIdentity self_;
  ServiceStatus current_;
  ControlHandlerExFunction extended_ = nullptr;
  ControlHandlerFunction plain_ = nullptr;
  void* context_ = nullptr;
  UniqueFd listener_;
  UniqueFd wake_;  // an eventfd, set by the stopped report
  UniqueFd termination_;  // a signalfd for SIGTERM
};

Error Dispatcher::Begin(const Launch& launch) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (active_) return kServiceAlreadyRunning;
  if (!IdentifyProcess(::getpid(), self_)) return kGenFailure;
  UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake) return LastErrno();
  UniqueFd termination = TakeTermination();
  if (!termination) return LastErrno();
  UniqueFd listener = Adopt(launch.listener, S_IFSOCK);
  UniqueFd statusFile = Adopt(launch.status, S_IFREG);
  if (!listener || !statusFile) return kFailedServiceControllerConnect;
  listener_ = std::move(listener);
  statusFile_ = std::move(statusFile);
  wake_ = std::move(wake);
  termination_ = std::move(termination);
  serviceName_ = launch.serviceName;
  socketPath_ = launch.socketPath;
  unwritten_ = false;
  terminating_ = false;
  current_ = ServiceStatus{};
  current_.currentState = kServiceStartPending;
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
  WriteFinal();
  End();
  return kSuccess;
}

void Dispatcher::Serve() {
  for (;;) {
    pollfd waits[3] = {{listener_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0},
                       {termination_.get(), POLLIN, 0}};
    const int ready = ::poll(waits, 3, PollTimeout());
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (stopped_) return;
      if (unwritten_) WriteCurrent();
    }
    if (ready <= 0) {  // EINTR or a time-out: nothing else can fail here
      DeliverTermination();
      continue;
    }
    if (waits[2].revents & POLLIN) TakeSignal();
    DeliverTermination();
    if ((waits[0].revents & POLLIN) == 0) continue;
    UniqueFd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (connection) ServeConnection(connection.get());
  }
}

// Woken now and then while a record waits to be written or a stop to be delivered.
int Dispatcher::PollTimeout() {
  const std::lock_guard<std::mutex> guard(lock_);
  return unwritten_ || terminating_ ? kRewriteIntervalMs : -1;
}

void Dispatcher::TakeSignal() {
  signalfd_siginfo signal {};
  while (::read(termination_.get(), &signal, sizeof signal) == static_cast<ssize_t>(sizeof signal)) {
    const std::lock_guard<std::mutex> guard(lock_);
    terminating_ = true;
  }
}

// A stop for SIGTERM, once the service is past its start and not stopping already.
void Dispatcher::DeliverTermination() {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!terminating_ || current_.currentState == kServiceStartPending) return;
    terminating_ = false;
    if (current_.currentState == kServiceStopPending || current_.currentState == kServiceStopped)
      return;
  }
  CallHandler(kControlStop);
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
    reply.status = current_;
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

// Call with the lock.
Error Dispatcher::WriteCurrent() {
  const Error error = WriteStatusRecord(statusFile_.get(), StatusRecord{self_, current_});
  unwritten_ = error != kSuccess;
  return error;
}

// The stopped record matters most: tried until written, within a limit.
void Dispatcher::WriteFinal() {
  const auto deadline = std::chrono::steady_clock::now() + kFinalWriteLimit;
  for (;;) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (!unwritten_ || WriteCurrent() == kSuccess) return;
    }
    if (std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(kRewriteIntervalMs));
  }
}

void Dispatcher::End() {
  const std::lock_guard<std::mutex> guard(lock_);
  active_ = false;
  listener_.reset();
  wake_.reset();
  termination_.reset();
  statusFile_.reset();
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
    current_ = status;
    // Kept when the write fails: Serve writes it again until it is in the file.
    written = WriteCurrent();
    if (stopping) {
      stopped_ = true;
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t woke = ::write(wake_.get(), &one, sizeof one);
      if (written == kSuccess) deleteName = serviceName_;  // else the next look-up removes it
    }
  }
  if (!deleteName.empty()) {
    // The entry was deleted while the service ran; it goes now that it has stopped.
    UniqueFd entries;
    service_registration::Presence presence = service_registration::Presence::Absent;
    if (service_files::LockFile(service_files::EntriesLockPath(), kFinalWriteLimit, entries) == kSuccess &&
        service_registration::Find(deleteName, presence) == kSuccess &&
        presence == service_registration::Presence::MarkedForDelete)
      service_registration::Remove(deleteName);
  }
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
