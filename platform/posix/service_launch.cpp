// Service processes started twice removed, held at a gate until named, waited for until they answer.
//
// Twice removed: the service is nobody's child here, so it never becomes our zombie and init
// reaps it. The gate: its status file must name it before it can run, or its own first
// report could be overwritten by our "start pending".
#include "platform/posix/service_launch.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
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
#include <vector>

#include "platform/posix/child_exec.h"
#include "platform/posix/command_line.h"
#include "platform/posix/control_channel.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/service_files.h"
#include "platform/posix/service_status.h"
#include "platform/posix/unique_fd.h"

extern char** environ;

namespace platform::posix {

namespace {

constexpr Error kServiceRequestTimeout = 1053;
constexpr Error kFileNameTooLong = 206;
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
  int highestFd = 0;
};

bool IsServiceVariable(std::string_view entry) {
  for (const std::string_view name :
       {kControlSocketVariable, kServiceNameVariable, kReadyDescriptorVariable})
    if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=')
      return true;
  return false;
}

bool PrepareProgram(const std::string& name, const std::string& commandLine, Program& program) {
  program.arguments = SplitCommandLine(commandLine);
  if (program.arguments.empty() || program.arguments.front().empty()) return false;
  program.candidates = ExecutableCandidates(program.arguments.front());
  for (char** entry = environ; *entry != nullptr; ++entry)
    if (!IsServiceVariable(*entry)) program.environment.emplace_back(*entry);
  program.environment.push_back(std::string(kControlSocketVariable) + '=' +
                                service_files::SocketPath(name));
  program.environment.push_back(std::string(kServiceNameVariable) + '=' + name);
  program.environment.push_back(std::string(kReadyDescriptorVariable) + '=' +
                                std::to_string(kReadyDescriptor));
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

[[noreturn]] void RunService(const Program& program, int devNull, int gate, int ready, int report) {
  if (!WaitAtGate(gate)) ::_exit(127);  // the starter has gone without naming us
  ::dup2(devNull, 0);
  ::dup2(devNull, 1);
  ::dup2(devNull, 2);
  ::dup2(ready, kReadyDescriptor);  // dup2 clears close-on-exec on the copy
  if (::chdir("/") != 0) ::_exit(127);
  ResetSignals();
  MarkDescriptorsCloseOnExec(kReadyDescriptor + 1, program.highestFd);
  SendInt(report, ExecFirstRunnable(program.candidates, program.argv.data(), program.envp.data()));
  ::_exit(127);
}

// The first child leads a new session, starts the service in it and leaves at once.
[[noreturn]] void RunIntermediate(const Program& program, int devNull, Channel& gate,
                                  Channel& ready, Channel& report) {
  gate.parent.reset();  // only the starter may open the gate, or end it by going away
  if (::setsid() < 0) {
    SendInt(report.child.get(), -errno);
    ::_exit(1);
  }
  const pid_t service = ::fork();
  if (service == 0) RunService(program, devNull, gate.child.get(), ready.child.get(), report.child.get());
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
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd wait{ready, POLLIN, 0};
    const int polled = ::poll(&wait, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    char answer = 0;
    return ::recv(ready, &answer, 1, 0) == 1;
  }
}

// Through a pidfd checked against the identity, so that a recycled id is never hit.
void Kill(const ProcessIdentity& service) {
  UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, service.pid, 0U)));
  if (pidfd && IsRunning(service))
    ::syscall(SYS_pidfd_send_signal, pidfd.get(), SIGKILL, nullptr, 0U);
}

Error Spawn(const Program& program, Channel& gate, Channel& ready, Channel& report, pid_t& service) {
  UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (!devNull) return LastErrno();
  UniqueFd highNull;
  if (const Error error = HighDescriptor(devNull.release(), highNull)) return error;
  const pid_t intermediate = ::fork();
  if (intermediate < 0) return LastErrno();
  if (intermediate == 0) RunIntermediate(program, highNull.get(), gate, ready, report);
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

}  // namespace

Error LaunchService(const std::string& name, const std::string& commandLine,
                    std::chrono::milliseconds answerTimeout) {
  // Found out here rather than by a dispatcher that could only fail to answer.
  if (!control_channel::FitsSocketAddress(service_files::SocketPath(name))) return kFileNameTooLong;
  Program program;
  if (!PrepareProgram(name, commandLine, program)) return kFileNotFound;
  Channel gate, ready, report;
  for (Channel* channel : {&gate, &ready, &report})
    if (const Error error = OpenChannel(*channel)) return error;
  pid_t pid = 0;
  if (const Error error = Spawn(program, gate, ready, report, pid)) return error;

  const std::string statusPath = service_files::StatusPath(name);
  StatusRecord record;
  if (!IdentifyProcess(pid, record.process)) return kGenFailure;  // it waits at the gate
  record.status = StatusOf(kServiceStartPending, 0);
  if (const Error error = WriteStatusRecord(statusPath, record)) return error;  // closing the gate ends it
  [[maybe_unused]] const ssize_t opened = ::send(gate.parent.get(), "g", 1, MSG_NOSIGNAL);
  gate.parent.reset();

  int execError = 0;
  if (ReceiveInt(report.parent.get(), execError)) {
    const Error error = FromErrno(execError);
    record.status = StatusOf(kServiceStopped, error);
    WriteStatusRecord(statusPath, record);
    return error;
  }
  if (Answered(ready.parent.get(), answerTimeout)) return kSuccess;
  Kill(record.process);
  record.status = StatusOf(kServiceStopped, kServiceRequestTimeout);
  WriteStatusRecord(statusPath, record);
  return kServiceRequestTimeout;
}

}  // namespace platform::posix
