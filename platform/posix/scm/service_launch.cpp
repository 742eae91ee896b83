// Service processes started twice removed, held at a gate until named, waited for until they answer.
//
// Twice removed: the service is nobody's child here, so it never becomes our zombie and init
// reaps it. The gate: its status file must name it before it can run, or its own first
// report could be overwritten by our "start pending".
#include "platform/posix/scm/service_launch.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/child_exec.h"
#include "platform/posix/command_line.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/scm/control_channel.h"
#include "platform/posix/scm/scm_internal.h"
#include "platform/posix/scm/service_files.h"
#include "platform/posix/scm/service_status.h"
#include "platform/posix/unique_fd.h"

namespace platform::posix {

namespace {

constexpr std::uint32_t kStartWaitHint = 2000;
// Above the standard descriptors and the ready descriptor, so that the child's dup2 calls
// can never overwrite one of these.
constexpr int kFirstPrivateFd = 10;

// The execve arguments, prepared before fork: the child may not allocate.
struct Program {
  std::vector<std::string> arguments;
  std::vector<std::string> candidates;  // the files execvp would try, in its order
  std::vector<std::string> environment;
  std::vector<char*> argv;
  std::vector<char*> envp;
  ServiceAccount account;
  int highestFd = 0;
};

// What the service gets from the starter besides its program.
struct Handover {
  int devNull = -1;
  int listener = -1;
  int status = -1;
};

bool PrepareProgram(const std::string& name, const std::string& commandLine,
                    const ServiceAccount& account, Program& program) {
  program.arguments = SplitCommandLine(commandLine);
  if (program.arguments.empty() || program.arguments.front().empty()) return false;
  program.account = account;
  program.environment = ServiceEnvironment(account);
  // Found on the service's own search path, not on the starter's.
  program.candidates = ExecutableCandidates(program.arguments.front(), {}, kServicePath);
  const std::pair<const char*, std::string> launch[] = {
      {kControlSocketVariable, service_files::SocketPath(name)},
      {kServiceNameVariable, name},
      {kReadyDescriptorVariable, std::to_string(kReadyDescriptor)},
      {kListenerDescriptorVariable, std::to_string(kListenerDescriptor)},
      {kStatusDescriptorVariable, std::to_string(kStatusDescriptor)},
  };
  for (const auto& [variable, value] : launch)
    program.environment.push_back(std::string(variable) + '=' + value);
  for (std::string& argument : program.arguments) program.argv.push_back(argument.data());
  program.argv.push_back(nullptr);
  for (std::string& entry : program.environment) program.envp.push_back(entry.data());
  program.envp.push_back(nullptr);
  program.highestFd = HighestDescriptor();
  return true;
}

// The two ends of a stream socket pair, moved above the standard descriptors. Sockets, not
// pipes: a write to a reader that has gone fails instead of raising SIGPIPE.
struct Channel {
  UniqueFd parent;
  UniqueFd child;
};

Error HighDescriptor(int fd, UniqueFd& owner) {
  UniqueFd original(fd);
  owner.reset(::fcntl(fd, F_DUPFD_CLOEXEC, kFirstPrivateFd));
  return owner ? kSuccess : LastErrno();
}

Error HighCopy(int fd, UniqueFd& owner) {
  owner.reset(::fcntl(fd, F_DUPFD_CLOEXEC, kFirstPrivateFd));
  return owner ? kSuccess : LastErrno();
}

Error OpenChannel(Channel& channel) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return LastErrno();
  const Error parent = HighDescriptor(ends[0], channel.parent);
  const Error child = HighDescriptor(ends[1], channel.child);
  return parent ? parent : child;
}

// --- In the children, between fork and exec: async-signal-safe calls only. ---

void SendInt(int fd, int value) {
  [[maybe_unused]] const ssize_t sent = ::send(fd, &value, sizeof value, MSG_NOSIGNAL);
}

bool WaitAtGate(int gate) {
  char go = 0;
  ssize_t got = 0;
  do got = ::read(gate, &go, 1);
  while (got < 0 && errno == EINTR);
  return got == 1;
}

// Groups first: after setuid the process may no longer change them.
int BecomeAccount(const ServiceAccount& account) {
  if (!account.switchUser) return 0;
  if (::setgroups(account.groups.size(), account.groups.data()) != 0 || ::setgid(account.gid) != 0 ||
      ::setuid(account.uid) != 0)
    return errno;
  return 0;
}

[[noreturn]] void RunService(const Program& program, const Handover& handover, int gate, int ready,
                             int report) {
  if (!WaitAtGate(gate)) ::_exit(127);  // the starter has gone without naming us
  ::dup2(handover.devNull, 0);
  ::dup2(handover.devNull, 1);
  ::dup2(handover.devNull, 2);
  // dup2 clears close-on-exec on the copies.
  ::dup2(ready, kReadyDescriptor);
  ::dup2(handover.listener, kListenerDescriptor);
  ::dup2(handover.status, kStatusDescriptor);
  if (::chdir("/") != 0) ::_exit(127);
  ResetSignals();
  MarkDescriptorsCloseOnExec(kStatusDescriptor + 1, program.highestFd);
  if (const int refused = BecomeAccount(program.account)) {
    SendInt(report, refused);
    ::_exit(127);
  }
  SendInt(report, ExecFirstRunnable(program.candidates, program.argv.data(), program.envp.data()));
  ::_exit(127);
}

// The first child leads a new session, starts the service in it and leaves at once.
[[noreturn]] void RunIntermediate(const Program& program, const Handover& handover, Channel& gate,
                                  Channel& ready, Channel& report) {
  gate.parent.reset();  // only the starter may open the gate, or end it by going away
  if (::setsid() < 0) {
    SendInt(report.child.get(), -errno);
    ::_exit(1);
  }
  const pid_t service = ::fork();
  if (service == 0) RunService(program, handover, gate.child.get(), ready.child.get(), report.child.get());
  SendInt(report.child.get(), service < 0 ? -errno : static_cast<int>(service));
  ::_exit(0);
}

// --- Back in the starter. ---

bool ReceiveInt(int fd, int& value) {
  ssize_t got = 0;
  do got = ::recv(fd, &value, sizeof value, MSG_WAITALL);
  while (got < 0 && errno == EINTR);
  return got == static_cast<ssize_t>(sizeof value);
}

ServiceStatus StatusOf(std::uint32_t state, std::uint32_t exitCode) {
  ServiceStatus status;
  status.currentState = state;
  status.win32ExitCode = exitCode;
  status.waitHint = state == kServiceStartPending ? kStartWaitHint : 0;
  return status;
}

// The outcome of the dispatcher's answer: a byte, or nothing within the time.
bool Answered(int ready, std::chrono::milliseconds timeout) {
  char answer = 0;
  return WaitReadable(ready, timeout) && ::recv(ready, &answer, 1, 0) == 1;
}

// Through a pidfd checked against the identity, so that a recycled id is never hit.
void Kill(const ProcessIdentity& service) {
  UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, service.pid, 0U)));
  if (pidfd && IsRunning(service))
    ::syscall(SYS_pidfd_send_signal, pidfd.get(), SIGKILL, nullptr, 0U);
}

Error Spawn(const Program& program, int listener, int statusFile, Channel& gate, Channel& ready,
            Channel& report, pid_t& service) {
  UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (!devNull) return LastErrno();
  UniqueFd highNull, highListener, highStatus;
  if (const Error error = HighDescriptor(devNull.release(), highNull)) return error;
  if (const Error error = HighCopy(listener, highListener)) return error;
  if (const Error error = HighCopy(statusFile, highStatus)) return error;
  const Handover handover{highNull.get(), highListener.get(), highStatus.get()};
  const pid_t intermediate = ::fork();
  if (intermediate < 0) return LastErrno();
  if (intermediate == 0) RunIntermediate(program, handover, gate, ready, report);
  // Only the children may hold these: the reads below end when the children let go.
  gate.child.reset();
  ready.child.reset();
  report.child.reset();
  int status = 0;
  while (::waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
  }
  int pid = 0;
  if (!ReceiveInt(report.parent.get(), pid)) return kGenFailure;
  if (pid < 0) return FromErrno(-pid);
  service = pid;
  return kSuccess;
}

// The control socket and the status file, before there is a process to use them.
Error PrepareFiles(const std::string& name, UniqueFd& listener, UniqueFd& statusFile) {
  if (const Error error = control_channel::Listen(service_files::SocketPath(name), listener))
    return error;
  const Error opened = OpenStatusFile(service_files::StatusPath(name), statusFile);
  if (opened != kSuccess) ::unlink(service_files::SocketPath(name).c_str());
  return opened;
}

// The outcome of a start that failed once the files were there: the record says why.
Error Failed(const std::string& name, int statusFile, StatusRecord& record, Error error) {
  ::unlink(service_files::SocketPath(name).c_str());
  record.status = StatusOf(kServiceStopped, error);
  WriteStatusRecord(statusFile, record);
  return error;
}

}  // namespace

Error LaunchService(const std::string& name, const std::string& commandLine,
                    const ServiceAccount& account, std::chrono::milliseconds answerTimeout,
                    UniqueFd& entriesLock) {
  // Found out here rather than by a dispatcher that could only fail to answer.
  if (!control_channel::FitsSocketAddress(service_files::SocketPath(name))) return kFileNameTooLong;
  Program program;
  if (!PrepareProgram(name, commandLine, account, program)) return kFileNotFound;
  Channel gate, ready, report;
  for (Channel* channel : {&gate, &ready, &report})
    if (const Error error = OpenChannel(*channel)) return error;
  UniqueFd listener, statusFile;
  if (const Error error = PrepareFiles(name, listener, statusFile)) return error;
  pid_t pid = 0;
  StatusRecord record;
  if (const Error error = Spawn(program, listener.get(), statusFile.get(), gate, ready, report, pid))
    return Failed(name, statusFile.get(), record, error);
  listener.reset();  // the service's own copy is the one that serves

  if (!IdentifyProcess(pid, record.process)) return Failed(name, statusFile.get(), record, kGenFailure);
  record.status = StatusOf(kServiceStartPending, 0);
  // Closing the gate unopened ends the waiting process.
  if (const Error error = WriteStatusRecord(statusFile.get(), record))
    return Failed(name, statusFile.get(), record, error);
  entriesLock.reset();  // from here on the record tells everybody that the service runs
  [[maybe_unused]] const ssize_t opened = ::send(gate.parent.get(), "g", 1, MSG_NOSIGNAL);
  gate.parent.reset();

  int execError = 0;
  if (ReceiveInt(report.parent.get(), execError))
    return Failed(name, statusFile.get(), record, FromErrno(execError));
  if (Answered(ready.parent.get(), answerTimeout)) return kSuccess;
  Kill(record.process);
  return Failed(name, statusFile.get(), record, kServiceRequestTimeoutError);
}

}  // namespace platform::posix
