// Processes on Windows: CreateProcessA, a job object per group, WaitForMultipleObjects,
// TerminateProcess, and the process status interface for the running executables.
#include "platform/process.h"

#include <windows.h>
#include <psapi.h>

namespace platform {

namespace {

void CloseHandleOwner(HANDLE handle) noexcept { ::CloseHandle(handle); }
// Process and thread handles are null when absent.
using UniqueHandle = UniqueAny<HANDLE, &CloseHandleOwner>;

constexpr DWORD kMaxProcesses = 1024;
constexpr DWORD kNameBuffer = static_cast<DWORD>(kMaxExecutableNameLength) + 1;
constexpr DWORD kQueryAndRead = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

Error LastError() noexcept { return static_cast<Error>(::GetLastError()); }
HANDLE AsHandle(std::intptr_t handle) noexcept { return reinterpret_cast<HANDLE>(handle); }

// A job of its own for a process started suspended, so that nothing it starts escapes the
// job before it is in it. A job is closed without ending its processes (no kill-on-close):
// a run left running at the stop outlives the service. Null when the job cannot be made
// or taken (a system that allows no nested jobs): the process then runs without one.
UniqueHandle JobFor(HANDLE process) noexcept {
  UniqueHandle job(::CreateJobObjectA(nullptr, nullptr));
  if (job && !::AssignProcessToJobObject(job.get(), process)) job.reset();
  return job;
}

}  // namespace

namespace detail {
void CloseGroup(std::intptr_t group) noexcept { ::CloseHandle(AsHandle(group)); }
}  // namespace detail

Error Process::Create(const std::string& commandLine, Group group) {
  LetGo();
  // CreateProcessA may write into the command line, so it gets a copy of its own.
  std::string writable = commandLine;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  const DWORD flags = group == Group::kOwn ? CREATE_SUSPENDED : 0;
  if (!::CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &created))
    return LastError();
  UniqueHandle thread(created.hThread);
  handle_.reset(reinterpret_cast<std::intptr_t>(created.hProcess));
  id_ = created.dwProcessId;
  if (group == Group::kOwn) {
    if (UniqueHandle job = JobFor(created.hProcess))
      group_.reset(reinterpret_cast<std::intptr_t>(job.release()));
    ::ResumeThread(thread.get());
  }
  return kSuccess;
}

Process::WaitResult Process::WaitWith(const ManualResetEvent& event, std::uint32_t milliseconds) {
  // The "no handle" value is also the current process's pseudo-handle; never wait on it.
  if (!handle_ || !event.handle_) return WaitResult::Failed;
  const HANDLE handles[2] = {AsHandle(handle_.get()), AsHandle(event.handle_.get())};
  const DWORD limit = milliseconds == kNoTimeLimit ? INFINITE : milliseconds;
  switch (::WaitForMultipleObjects(2, handles, FALSE, limit)) {
    case WAIT_OBJECT_0: {
      DWORD code = 0;
      status_.code = ::GetExitCodeProcess(handles[0], &code) ? code : 0;
      ended_ = true;
      return WaitResult::ProcessEnded;
    }
    case WAIT_OBJECT_0 + 1: return WaitResult::EventSet;
    case WAIT_TIMEOUT: return WaitResult::TimedOut;
    default: return WaitResult::Failed;
  }
}

Error Process::Terminate(std::uint32_t exitCode) {
  if (!handle_) return kInvalidHandle;
  if (group_ && ::TerminateJobObject(AsHandle(group_.get()), exitCode)) return kSuccess;
  return ::TerminateProcess(AsHandle(handle_.get()), exitCode) ? kSuccess : LastError();
}

// Closing the handle is all it takes: the process runs on, and the system cleans up after it.
void Process::LetGo() noexcept {
  handle_.reset();
  group_.reset();
  id_ = 0;
  ended_ = false;
  status_ = ExitStatus{};
}

Error VisitRunningExecutables(const ExecutableVisitor& visitor) {
  DWORD ids[kMaxProcesses];
  DWORD bytes = 0;
  if (!::EnumProcesses(ids, sizeof ids, &bytes)) return LastError();
  std::string name;
  for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
    if (ids[i] == 0) continue;
    UniqueHandle process(::OpenProcess(kQueryAndRead, FALSE, ids[i]));
    if (!process) continue;
    char buffer[kNameBuffer];
    const DWORD length = ::GetModuleBaseNameA(process.get(), nullptr, buffer, kNameBuffer);
    process.reset();
    if (length == 0) continue;
    // A name that did not fit may come back without its terminator.
    name.assign(buffer, length < kNameBuffer ? length : kNameBuffer - 1);
    if (visitor(name)) break;
  }
  return kSuccess;
}

// Windows tells running programs apart by their executables' base names alone.
ProgramSearch FindRunningProgram(const std::string&) { return ProgramSearch::kByNameOnly; }

std::string SignalName(int) { return {}; }

// A write to a closed pipe fails with an error on Windows already.
void IgnoreBrokenPipes() {}

}  // namespace platform
