// The steps between fork and exec shared by task processes and service processes.
#include "platform/posix/child_exec.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "platform/files.h"

namespace platform::posix {

const std::string& ProgramDirectory() {
  static const std::string directory = [] {
    const std::string path = ProgramPath();
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
  }();
  return directory;
}

bool MeansNotHere(int error) {
  return error == ENOENT || error == ENOTDIR || error == ESTALE || error == ENODEV ||
         error == ETIMEDOUT;
}

std::vector<std::string> ExecutableCandidates(const std::string& program,
                                              const std::string& programDirectory,
                                              const char* searchPath) {
  if (program.empty()) return {};
  if (program.find('/') != std::string::npos) return {program};
  std::vector<std::string> candidates;
  if (!programDirectory.empty()) candidates.push_back(programDirectory + '/' + program);
  const char* path = searchPath != nullptr ? searchPath : std::getenv("PATH");
  std::string_view directories = path != nullptr ? path : "/bin:/usr/bin";  // execvp's default
  for (;;) {
    const std::size_t colon = directories.find(':');
    const std::string_view directory = directories.substr(0, colon);
    if (directory.starts_with('/')) candidates.push_back(std::string(directory) + '/' + program);
    if (colon == std::string_view::npos) return candidates;
    directories.remove_prefix(colon + 1);
  }
}

int HighestDescriptor() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur > INT_MAX) return INT_MAX;
  return static_cast<int>(limit.rlim_cur) - 1;
}

void ResetSignals() {
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &standard, nullptr);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

void MarkDescriptorsCloseOnExec(int first, int highest) {
  if (::syscall(SYS_close_range, static_cast<unsigned>(first), ~0U, CLOSE_RANGE_CLOEXEC) == 0)
    return;
  for (int fd = first; fd <= highest; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);  // before 5.11
}

int ExecFirstRunnable(const std::vector<std::string>& candidates, char* const* argv,
                      char* const* envp) {
  return RunFirstRunnable(candidates, [argv, envp](const char* path) {
    ::execve(path, argv, envp);
    return errno;
  });
}

}  // namespace platform::posix
