// Child processes for tests on POSIX.
#include "tests/support/child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "platform/files.h"

extern char** environ;

namespace testsupport {

std::string SelfPath() { return platform::ProgramPath(); }

bool CopySelfTo(const std::string& path) {
  std::error_code error;
  return std::filesystem::copy_file(SelfPath(), path, error) && !error;
}

bool ChildProcess::Start(const std::string& executable, const std::string& role,
                         const std::string& argument) {
  Kill();
  const ChildRoleEnvironment environment(role, argument);
  std::string program = executable;
  char* const argv[] = {program.data(), nullptr};
  pid_t child = -1;
  if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  id_ = static_cast<std::uint32_t>(child);
  return true;
}

bool ChildProcess::Kill() {
  if (id_ == 0) return true;
  const pid_t child = static_cast<pid_t>(std::exchange(id_, 0));
  // Until it is reaped below, the id cannot pass to another process.
  if (::kill(child, SIGKILL) != 0) return false;
  int status = 0;
  pid_t reaped = 0;
  do reaped = ::waitpid(child, &status, 0);
  while (reaped < 0 && errno == EINTR);
  return reaped == child;
}

bool StartHoldingOutput(const std::string& commandLine) {
  platform::Process process;  // its descriptors 0 to 2 are this process's
  return process.Create(commandLine) == platform::kSuccess;
}

bool ProcessIdInUse(std::uint32_t id) { return ::kill(static_cast<pid_t>(id), 0) == 0; }

void EndAsACrash() {
  ::signal(SIGSEGV, SIG_DFL);
  ::raise(SIGSEGV);
  ::_exit(139);  // not reached: the default action ends the process
}

bool ProcessIdRuns(std::uint32_t id) {
  std::ifstream stat("/proc/" + std::to_string(id) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The state follows the name in parentheses, which may itself hold ") ".
  const std::size_t close = text.rfind(") ");
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z' &&
         text[close + 2] != 'X';
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

bool KillProcessId(std::uint32_t id) { return ::kill(static_cast<pid_t>(id), SIGKILL) == 0; }

platform::ExitStatus TerminatedExitStatus() { return platform::ExitStatus{0, SIGKILL}; }

}  // namespace testsupport
