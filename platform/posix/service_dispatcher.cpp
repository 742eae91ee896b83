// The dispatcher: the control socket served on the caller's thread, the service on its own.
#include "platform/posix/service_dispatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/posix/control_channel.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/service_entry.h"
#include "platform/posix/service_files.h"
#include "platform/posix/service_launch.h"
#include "platform/posix/service_status.h"

namespace platform::posix::dispatcher {

namespace {

namespace channel = control_channel;

constexpr Error kServiceAlreadyRunning = 1056;
constexpr Error kServiceNoThread = 1054;
constexpr Error kServiceCannotAcceptControl = 1061;
// A client that connects and says nothing must not hold the service's controls up long.
constexpr std::chrono::milliseconds kRequestTimeout{2000};

// What the starter left in the environment, taken out of it.
struct Launch {
  std::string socketPath;
  std::string serviceName;
  int ready = -1;
};

bool TakeLaunch(Launch& launch) {
  const char* socket = std::getenv(kControlSocketVariable);
  const char* name = std::getenv(kServiceNameVariable);
  const char* ready = std::getenv(kReadyDescriptorVariable);
  if (socket == nullptr || name == nullptr || *socket == '\0' || *name == '\0') return false;
  launch.socketPath = socket;
  launch.serviceName = name;
  launch.ready = ready != nullptr ? std::atoi(ready) : -1;
  for (const char* variable : {kControlSocketVariable, kServiceNameVariable, kReadyDescriptorVariable})
    ::unsetenv(variable);
  return true;
}

// Only the socket the starter handed over; a stale number could be anybody's descriptor.
void AnswerStarter(int ready) {
  struct stat info {};
  if (ready < 0 || ::fstat(ready, &info) != 0 || !S_ISSOCK(info.st_mode)) return;
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
  void ServeConnection(int connection);
  std::uint32_t CallHandler(std::uint32_t control);
  void End();

  std::mutex lock_;
  bool active_ = false;
  bool stopped_ = false;
  ServiceStatusHandle generation_ = 0;
  std::string serviceName_;
  std::string socketPath_;
  std::string statusPath_;
  ProcessIdentity self_;
  ServiceStatus current_;
  ControlHandlerExFunction extended_ = nullptr;
  ControlHandlerFunction plain_ = nullptr;
  void* context_ = nullptr;
  UniqueFd listener_;
  UniqueFd wake_;  // an eventfd, set by the stopped report
};

Error Dispatcher::Begin(const Launch& launch) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (active_) return kServiceAlreadyRunning;
  if (!IdentifyProcess(::getpid(), self_)) return kGenFailure;
  UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake) return LastErrno();
  if (const Error error = control_channel::Listen(launch.socketPath, listener_)) return error;
  wake_ = std::move(wake);
  serviceName_ = launch.serviceName;
  socketPath_ = launch.socketPath;
  statusPath_ = service_files::StatusPath(launch.serviceName);
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
  End();
  return kSuccess;
}

void Dispatcher::Serve() {
  for (;;) {
    pollfd waits[2] = {{listener_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0) continue;  // EINTR; nothing else can fail here
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (stopped_) return;
    }
    if ((waits[0].revents & POLLIN) == 0) continue;
    UniqueFd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (connection) ServeConnection(connection.get());
  }
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

void Dispatcher::End() {
  const std::lock_guard<std::mutex> guard(lock_);
  active_ = false;
  listener_.reset();
  wake_.reset();
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
    written = WriteStatusRecord(statusPath_, StatusRecord{self_, status});
    if (stopping) {
      stopped_ = true;
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t woke = ::write(wake_.get(), &one, sizeof one);
      deleteName = serviceName_;
    }
  }
  if (!deleteName.empty()) {
    // The entry was deleted while the service ran; it goes now that it has stopped.
    UniqueFd entries;
    service_entry::Presence presence = service_entry::Presence::Absent;
    if (service_files::LockFile(service_files::EntriesLockPath(), true, entries) == kSuccess &&
        service_entry::Find(deleteName, presence) == kSuccess &&
        presence == service_entry::Presence::MarkedForDelete)
      service_entry::Remove(deleteName);
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
