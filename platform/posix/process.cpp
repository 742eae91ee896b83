// Processes on Linux: posix_spawn without a shell, one poll on a pidfd and an eventfd,
// and the running executables read from /proc.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <climits>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/posix/child_exec.h"
#include "platform/posix/command_line.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/output_pipe_ends.h"
#include "platform/posix/process_list.h"

extern char** environ;

namespace platform {

namespace {

constexpr std::size_t kMaxProcesses = 1024;

// What a started program gets, as on Windows: every signal at its default, none blocked,
// and no descriptor but the standard three (others may lack O_CLOEXEC). With `outputFd`
// its standard output and error are that descriptor and its input the null device.
class SpawnSettings {
 public:
  SpawnSettings(Process::Group group, int outputFd) {
    ::posix_spawnattr_init(&attributes_);
    ::posix_spawn_file_actions_init(&actions_);
    sigset_t all;
    sigset_t none;
    ::sigfillset(&all);
    ::sigemptyset(&none);
    // A group of its own has the child's id as its number (setpgid(0, 0) in the child).
    const short groupFlag = group == Process::Group::kOwn ? POSIX_SPAWN_SETPGROUP : 0;
    error_ = ::posix_spawnattr_setflags(&attributes_,
                                        POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | groupFlag);
    if (error_ == 0) error_ = ::posix_spawnattr_setsigdefault(&attributes_, &all);
    if (error_ == 0) error_ = ::posix_spawnattr_setsigmask(&attributes_, &none);
    // The copies first: the pipe may itself be descriptor 0 when the service has no input.
    if (error_ == 0 && outputFd >= 0) {
      error_ = ::posix_spawn_file_actions_adddup2(&actions_, outputFd, 1);
      if (error_ == 0) error_ = ::posix_spawn_file_actions_adddup2(&actions_, outputFd, 2);
      if (error_ == 0)
        error_ = ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    }
    if (error_ == 0) error_ = ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
  }
  ~SpawnSettings() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  int error() const { return error_; }
  // posix_spawn's result: 0 with the child's id, or the errno of the failed exec.
  int Spawn(pid_t& pid, const char* path, char* const* argv) const {
    return ::posix_spawn(&pid, path, &actions_, &attributes_, argv, environ);
  }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
  int error_ = 0;
};

// False when the child is not ours to reap (any more).
bool Reap(pid_t pid, int& status, int options = 0) {
  pid_t reaped = 0;
  do reaped = ::waitpid(pid, &status, options);
  while (reaped < 0 && errno == EINTR);
  return reaped == pid;
}

// A let-go child is reaped by a thread of its own that waits for it: no SIGCHLD handler
// that would take other waiters' children, and no zombie once it ends.
void ReapWhenEnded(pid_t pid) noexcept {
  int status = 0;
  if (::waitpid(pid, &status, WNOHANG) != 0) return;  // reaped now, or not ours any more
  try {
    std::thread([pid] {
      int ended = 0;
      Reap(pid, ended);
    }).detach();
  } catch (const std::system_error&) {
    // Without a thread the child stays a zombie until this process ends.
  }
}

ExitStatus ToExitStatus(int status) {
  ExitStatus result;
  if (WIFEXITED(status)) result.code = static_cast<std::uint32_t>(WEXITSTATUS(status));
  else if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

enum class Executable { kNamed, kNone, kUnreadable };

// The base name of <proc>/<pid>/exe. kNone for kernel threads (and processes just gone),
// which have no executable; kUnreadable when the process may not be looked at.
Executable ExecutableName(int procFd, const char* pid, std::string& name) {
  char link[PATH_MAX];
  const std::string path = std::string(pid) + "/exe";
  const ssize_t length = ::readlinkat(procFd, path.c_str(), link, sizeof link);
  if (length < 0 && errno == ENOENT) return Executable::kNone;
  if (length <= 0 || length == static_cast<ssize_t>(sizeof link)) return Executable::kUnreadable;
  std::string_view target(link, static_cast<std::size_t>(length));
  // A program replaced on disk while it runs is still that program.
  constexpr std::string_view kDeleted = " (deleted)";
  if (target.ends_with(kDeleted)) target.remove_suffix(kDeleted.size());
  target = target.substr(target.find_last_of('/') + 1);
  name.assign(target.substr(0, kMaxExecutableNameLength));
  return name.empty() ? Executable::kUnreadable : Executable::kNamed;
}

}  // namespace

namespace detail {
void CloseGroup(std::intptr_t) noexcept {}
}  // namespace detail

Error Process::Create(const std::string& commandLine, Group group, OutputPipe* output) {
  LetGo();
  const bool piped = output != nullptr && output->ends_ && output->ends_->write.valid();
  const std::vector<std::string> arguments = posix::SplitCommandLine(commandLine);
  const std::vector<std::string> candidates =
      posix::ExecutableCandidates(arguments.front(), posix::ProgramDirectory());
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  // posix_spawn, not fork: the child borrows this process's memory until its exec instead
  // of copying the page tables of a service that may be large, and an exec failure comes
  // back as the result.
  const SpawnSettings settings(group, piped ? output->ends_->write.get() : -1);
  if (settings.error() != 0) {
    if (piped) output->CloseWriteEnd();
    return posix::FromErrno(settings.error());
  }
  pid_t pid = 0;
  const int spawnError = posix::RunFirstRunnable(
      candidates, [&](const char* path) { return settings.Spawn(pid, path, argv.data()); });
  if (piped) output->CloseWriteEnd();
  if (spawnError != 0) return posix::FromErrno(spawnError);

  int status = 0;
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0U));
  if (pidfd < 0) {
    // Without a pidfd the process could not be waited on with the event: do not start it.
    const Error error = posix::LastErrno();
    ::kill(pid, SIGKILL);
    Reap(pid, status);
    return error;
  }
  handle_.reset(pidfd);
  if (group == Group::kOwn) group_.reset(pid);
  id_ = static_cast<std::uint32_t>(pid);
  return kSuccess;
}

Process::WaitResult Process::WaitWith(const ManualResetEvent& event, std::uint32_t milliseconds,
                                      OutputPipe* output) {
  if (!handle_ || !event.handle_) return WaitResult::Failed;
  if (ended_) return WaitResult::ProcessEnded;
  const bool piped = output != nullptr && output->IsOpen();
  pollfd waits[3] = {{static_cast<int>(handle_.get()), POLLIN, 0},
                     {static_cast<int>(event.handle_.get()), POLLIN, 0},
                     {piped ? output->ends_->read.get() : -1, POLLIN, 0}};
  // poll takes an int; a longer limit is cut to the longest it can wait, about 24 days.
  const int timeout = milliseconds == kNoTimeLimit ? -1
                      : milliseconds > INT_MAX     ? INT_MAX
                                                   : static_cast<int>(milliseconds);
  int ready = 0;
  do ready = ::poll(waits, piped ? 3 : 2, timeout);
  while (ready < 0 && errno == EINTR);
  if (ready == 0) return WaitResult::TimedOut;
  if (ready < 0) return WaitResult::Failed;

  if (waits[0].revents & (POLLIN | POLLHUP)) {
    int status = 0;
    // Someone else may have reaped it (SIGCHLD ignored, a wait for any child): it ended.
    status_ = Reap(static_cast<pid_t>(id_), status) ? ToExitStatus(status) : ExitStatus{};
    ended_ = true;
    return WaitResult::ProcessEnded;
  }
  if (waits[1].revents & POLLIN) return WaitResult::EventSet;
  return (waits[2].revents & (POLLIN | POLLHUP)) ? WaitResult::OutputReady : WaitResult::Failed;
}

Error Process::Terminate(std::uint32_t /*exitCode*/) {
  if (!handle_) return kInvalidHandle;
  // The group's number is the process's id, which is not given to another process while
  // the process is not reaped; once it is, its group is no longer ended with it.
  if (group_ && !ended_) ::kill(-static_cast<pid_t>(group_.get()), SIGKILL);
  // Through the pidfd, so that a reaped process's recycled id is never hit.
  if (::syscall(SYS_pidfd_send_signal, static_cast<int>(handle_.get()), SIGKILL, nullptr, 0U) != 0)
    return posix::LastErrno();
  return kSuccess;
}

void Process::LetGo() noexcept {
  if (handle_ && !ended_) ReapWhenEnded(static_cast<pid_t>(id_));
  handle_.reset();
  group_.reset();
  id_ = 0;
  ended_ = false;
  status_ = ExitStatus{};
}

namespace posix {

bool IsProcessEntry(const dirent& entry) {
  if (entry.d_type != DT_DIR && entry.d_type != DT_UNKNOWN) return false;
  for (const char* c = entry.d_name; *c != '\0'; ++c)
    if (*c < '0' || *c > '9') return false;
  return entry.d_name[0] != '\0';
}

Error VisitExecutablesIn(const std::string& procDirectory, const ExecutableVisitor& visitor) {
  UniqueDir proc(::opendir(procDirectory.c_str()));
  if (!proc) return posix::LastErrno();
  std::string name;
  std::size_t examined = 0;
  while (const dirent* entry = ::readdir(proc.get())) {
    if (!IsProcessEntry(*entry)) continue;
    // Kernel threads run no program; counted, they would crowd out processes that do.
    const Executable found = ExecutableName(::dirfd(proc.get()), entry->d_name, name);
    if (found == Executable::kNone) continue;
    if (++examined > kMaxProcesses) break;
    if (found == Executable::kNamed && visitor(name)) break;
  }
  return kSuccess;
}

}  // namespace posix

Error VisitRunningExecutables(const ExecutableVisitor& visitor) {
  return posix::VisitExecutablesIn("/proc", visitor);
}

std::string SignalName(int signal) {
  const char* abbreviation = ::sigabbrev_np(signal);
  return abbreviation ? std::string("SIG") + abbreviation : std::string();
}

void IgnoreBrokenPipes() {
  // Started programs get the default back (posix::ResetSignals).
  ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace platform
