// Child processes for tests on Windows.
#include "tests/support/child_process.h"

#include <windows.h>

#include "platform/files.h"

namespace testsupport {

namespace {
HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

std::string SelfPath() { return platform::ProgramPath(); }

bool CopySelfTo(const std::string& path) {
  return ::CopyFileA(SelfPath().c_str(), path.c_str(), TRUE) != FALSE;
}

bool ChildProcess::Start(const std::string& executable, const std::string& role,
                         const std::string& argument) {
  Kill();
  const ChildRoleEnvironment environment(role, argument);
  std::string commandLine = QuotedCommand(executable);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  if (!::CreateProcessA(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &created))
    return false;
  ::CloseHandle(created.hThread);
  handle_.reset(reinterpret_cast<std::intptr_t>(created.hProcess));
  id_ = created.dwProcessId;
  return true;
}

bool ChildProcess::Kill() {
  if (id_ == 0) return true;
  id_ = 0;
  // The handle held since the start names exactly the process with that id.
  const HANDLE process = AsHandle(handle_.get());
  const bool gone = ::TerminateProcess(process, 1) &&
                    ::WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
  handle_.reset();
  return gone;
}

bool StartHoldingOutput(const std::string& commandLine) {
  std::string writable = commandLine;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION created{};
  if (!::CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &created))
    return false;
  ::CloseHandle(created.hThread);
  ::CloseHandle(created.hProcess);
  return true;
}

bool ProcessIdInUse(std::uint32_t id) {
  const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, id);
  if (process == nullptr) return false;
  const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return running;
}

bool ProcessIdRuns(std::uint32_t id) { return ProcessIdInUse(id); }

// Without the system's crash handler, which under Wine would start a debugger.
void EndAsACrash() {
  ::TerminateProcess(::GetCurrentProcess(), 0xC0000005);
  ::ExitProcess(0xC0000005);
}

std::uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

bool KillProcessId(std::uint32_t id) {
  const HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, id);
  if (process == nullptr) return false;
  const bool killed = ::TerminateProcess(process, 1) != FALSE;
  ::CloseHandle(process);
  return killed;
}

platform::ExitStatus TerminatedExitStatus() { return platform::ExitStatus{1, 0}; }

}  // namespace testsupport
