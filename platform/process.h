// Processes: start a command line, wait on it together with an event, terminate it, and
// list the names of the running executables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "platform/error.h"
#include "platform/manual_reset_event.h"
#include "platform/files.h"
#include "platform/output_pipe.h"
#include "platform/unique_any.h"

namespace platform {

// A Win32 process handle or a POSIX pidfd.
using UniqueProcessHandle = UniqueAny<std::intptr_t, &detail::CloseFile, std::intptr_t{-1}>;
namespace detail {
// Closes a Win32 job object; nothing on POSIX, where a group is only a number.
void CloseGroup(std::intptr_t group) noexcept;
}  // namespace detail
using UniqueGroupHandle = UniqueAny<std::intptr_t, &detail::CloseGroup, std::intptr_t{-1}>;

// How a process ended.
struct ExitStatus {
  std::uint32_t code = 0;  // its exit code (on Windows also the code given to Terminate)
  int signal = 0;          // POSIX: the signal that ended it; 0 when it exited, always 0 on Windows
};

// One started process, used by one thread at a time. Move-only. Destroying the object,
// or starting another with it, lets the process go: it runs on by itself. POSIX still
// reaps it when it ends, so that no zombie of ours remains.
class Process {
 public:
  enum class WaitResult { ProcessEnded, EventSet, OutputReady, TimedOut, Failed };
  // kOwn puts the process and everything it starts into a group of their own (POSIX: a
  // process group; Windows: a job object that does not end them when it is closed), which
  // Terminate ends whole. Processes that leave the group on purpose are not followed.
  enum class Group { kShared, kOwn };
  static constexpr std::uint32_t kNoTimeLimit = 0xFFFFFFFF;

  Process() noexcept = default;
  Process(Process&& other) noexcept { TakeFrom(other); }
  Process& operator=(Process&& other) noexcept {
    if (this != &other) {
      LetGo();
      TakeFrom(other);
    }
    return *this;
  }
  ~Process() { LetGo(); }

  // Starts `commandLine` as Windows' CreateProcessA does with no application name: the
  // program is its first token, found by the system's search (POSIX: split into
  // arguments by the Microsoft C runtime's rules; a name with '/' is a path, a bare name
  // is looked for in this program's directory, then in the absolute PATH entries, never
  // in the working directory; no shell). The process gets this process's
  // environment and working directory and inherits no handles beyond the standard
  // ones. With an open `output`, its standard output and error are the pipe's write end
  // (then closed here, whatever the result) and its standard input the null device;
  // otherwise it has this process's three. 0 on success; 2 when the program is not
  // found, 5 when it may not be run, 193 when it is no executable; nothing is started then.
  Error Create(const std::string& commandLine, Group group = Group::kShared,
               OutputPipe* output = nullptr);

  bool IsValid() const noexcept { return handle_.valid(); }
  std::uint32_t Id() const noexcept { return id_; }

  // Blocks until the process has ended or `event` is set, or at most `milliseconds`
  // (TimedOut); with an open `output`, also until the pipe has something to read or is
  // closed (OutputReady). When several hold, the process counts first, then the event.
  // After ProcessEnded the process is reaped and ExitStatus tells how it ended. Failed
  // when the wait itself fails, or when there is no process or event.
  WaitResult WaitWith(const ManualResetEvent& event, std::uint32_t milliseconds = kNoTimeLimit,
                      OutputPipe* output = nullptr);

  // Ends the process at once, without waiting for it to be gone, and with it its group
  // when it was created with one of its own. Windows records `exitCode` as the exit code;
  // POSIX kills with SIGKILL.
  Error Terminate(std::uint32_t exitCode);

  // How the process ended; false until a wait has seen it end.
  bool GetExitStatus(ExitStatus& status) const noexcept {
    if (!ended_) return false;
    status = status_;
    return true;
  }

 private:
  void TakeFrom(Process& other) noexcept {
    handle_ = std::move(other.handle_);
    group_ = std::move(other.group_);
    id_ = std::exchange(other.id_, 0);
    ended_ = std::exchange(other.ended_, false);
    status_ = other.status_;
  }
  // Gives up the process, leaving it to run (see the class comment).
  void LetGo() noexcept;

  UniqueProcessHandle handle_;
  // Windows: the job object of a process in a group of its own; POSIX: its process group's
  // id, held in the handle type only to share one layout (never closed there).
  UniqueGroupHandle group_;
  std::uint32_t id_ = 0;
  bool ended_ = false;
  ExitStatus status_;
};

// The name of a POSIX signal ("SIGSEGV"); empty for a number that names none, and on
// Windows, where no process ends by a signal.
std::string SignalName(int signal);

// The longest base name VisitRunningExecutables reports; longer names come cut to it.
inline constexpr std::size_t kMaxExecutableNameLength = 49;

// Called with the base name of each running process's executable (at most
// kMaxExecutableNameLength characters) until it returns true. At most 1024 processes are
// looked at; processes that cannot be opened or named are skipped. 0 when the list was
// read, else the error.
using ExecutableVisitor = std::function<bool(const std::string& name)>;
Error VisitRunningExecutables(const ExecutableVisitor& visitor);

// Whether some process of the machine runs the program that Create would start for
// `commandLine`. POSIX knows a program by its file: a process whose executable is that file
// (same device and inode), or, for a script (a file that begins with "#!") and for a
// command whose first token is a shell or interpreter (sh, bash, python3, env, ...), a
// process whose arguments name the script's file; an interpreter given "-c" text (or
// perl's -e, ...) runs no file, and such a command is never found running. Every process
// is looked at; /proc is read once. Windows knows a running program only by its
// executable's base name and answers kByNameOnly: the caller takes the name from the
// command by its own rule and looks for it with VisitRunningExecutables.
enum class ProgramSearch { kNotRunning, kRunning, kByNameOnly };
ProgramSearch FindRunningProgram(const std::string& commandLine);

// Call once at program start. A write to a pipe or socket whose reader has gone (a console
// piped into `head`) then fails with an error instead of ending the program; the processes
// it starts get the default behaviour back. Nothing to do on Windows.
void IgnoreBrokenPipes();

}  // namespace platform
