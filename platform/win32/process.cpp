// Processes on Windows: CreateProcessA, a job object per group, WaitForMultipleObjects,
// TerminateProcess, and the process status interface for the running executables.
#include "platform/process.h"

#include <windows.h>
#include <psapi.h>

#include <memory>
#include <vector>

#include "platform/win32/output_pipe_ends.h"

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

// What a child with its output in a pipe inherits: the pipe's write end and the null
// device as its input, and nothing else, however many inheritable handles other threads
// hold at the time.
class PipedStartup {
 public:
  explicit PipedStartup(HANDLE output) noexcept {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    input_.reset(::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inherited, OPEN_EXISTING, 0, nullptr));
    if (input_.get() == INVALID_HANDLE_VALUE) {
      error_ = LastError();
      return;
    }
    inherit_[0] = output;
    inherit_[1] = input_.get();
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributes_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes_.data());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) {
      error_ = LastError();
      return;
    }
    initialized_ = true;
    if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit_,
                                     sizeof inherit_, nullptr, nullptr)) {
      error_ = LastError();
      return;
    }
    startup_.StartupInfo.cb = sizeof startup_;
    startup_.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup_.StartupInfo.hStdInput = input_.get();
    startup_.StartupInfo.hStdOutput = output;
    startup_.StartupInfo.hStdError = output;
    startup_.lpAttributeList = list;
  }
  ~PipedStartup() {
    if (initialized_)
      ::DeleteProcThreadAttributeList(
          reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes_.data()));
  }
  PipedStartup(const PipedStartup&) = delete;
  PipedStartup& operator=(const PipedStartup&) = delete;

  Error error() const noexcept { return error_; }
  STARTUPINFOA* info() noexcept { return &startup_.StartupInfo; }

 private:
  struct CloseFileHandle {
    static void Close(HANDLE handle) noexcept { ::CloseHandle(handle); }
  };
  static HANDLE InvalidFile() noexcept { return INVALID_HANDLE_VALUE; }
  UniqueAny<HANDLE, &CloseFileHandle::Close, &InvalidFile> input_;
  HANDLE inherit_[2] = {};
  std::vector<char> attributes_;
  bool initialized_ = false;
  STARTUPINFOEXA startup_{};
  Error error_ = kSuccess;
};

}  // namespace

namespace detail {
void CloseGroup(std::intptr_t group) noexcept { ::CloseHandle(AsHandle(group)); }
}  // namespace detail

Error Process::Create(const std::string& commandLine, Group group, OutputPipe* output) {
  LetGo();
  // CreateProcessA may write into the command line, so it gets a copy of its own.
  std::string writable = commandLine;
  STARTUPINFOA plain{};
  plain.cb = sizeof plain;
  PROCESS_INFORMATION created{};
  DWORD flags = group == Group::kOwn ? CREATE_SUSPENDED : 0;
  const bool piped =
      output != nullptr && output->ends_ && output->ends_->write != INVALID_HANDLE_VALUE;
  std::unique_ptr<PipedStartup> pipedStartup;
  if (piped) {
    pipedStartup = std::make_unique<PipedStartup>(output->ends_->write);
    if (const Error failed = pipedStartup->error()) {
      output->CloseWriteEnd();
      return failed;
    }
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  const BOOL started =
      ::CreateProcessA(nullptr, writable.data(), nullptr, nullptr, piped ? TRUE : FALSE, flags,
                       nullptr, nullptr, piped ? pipedStartup->info() : &plain, &created);
  const Error createError = started ? kSuccess : LastError();
  if (piped) output->CloseWriteEnd();
  if (!started) return createError;
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

Process::WaitResult Process::WaitWith(const ManualResetEvent& event, std::uint32_t milliseconds,
                                      OutputPipe* output) {
  // The "no handle" value is also the current process's pseudo-handle; never wait on it.
  if (!handle_ || !event.handle_) return WaitResult::Failed;
  const bool piped = output != nullptr && output->IsOpen();
  // A pipe that takes no read is closed or broken: Read tells which at once.
  if (piped && !output->ends_->Arm()) return WaitResult::OutputReady;
  const HANDLE handles[3] = {AsHandle(handle_.get()), AsHandle(event.handle_.get()),
                             piped ? output->ends_->readDone : nullptr};
  const DWORD limit = milliseconds == kNoTimeLimit ? INFINITE : milliseconds;
  switch (::WaitForMultipleObjects(piped ? 3 : 2, handles, FALSE, limit)) {
    case WAIT_OBJECT_0: {
      DWORD code = 0;
      status_.code = ::GetExitCodeProcess(handles[0], &code) ? code : 0;
      ended_ = true;
      return WaitResult::ProcessEnded;
    }
    case WAIT_OBJECT_0 + 1: return WaitResult::EventSet;
    case WAIT_OBJECT_0 + 2: return WaitResult::OutputReady;
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
