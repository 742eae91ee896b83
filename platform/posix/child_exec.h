// How a program is found on the search path, and what a forked child does before it runs one.
#pragma once

#include <cerrno>
#include <string>
#include <vector>

namespace platform::posix {

// The files to try for `program`, in order: the name itself when it holds a '/'; else the
// name in `programDirectory` (when given), as Windows looks beside the program first, then
// in each absolute entry of `searchPath` (null: PATH). Relative entries, the empty one
// included, would search the working directory and are left out. Call before fork.
std::vector<std::string> ExecutableCandidates(const std::string& program,
                                              const std::string& programDirectory = {},
                                              const char* searchPath = nullptr);
// The directory of this program, searched first for a bare program name; empty when unknown.
const std::string& ProgramDirectory();
// Whether an exec's errno means the program is not at that path, so the next one is tried.
bool MeansNotHere(int error);
// execvp's walk over `candidates`: `run(path)` returns 0 once the program runs, else its
// errno; a file that may not be run is remembered while later ones are tried. Returns 0 or
// the errno to report. Allocates nothing, so a forked child may use it.
template <typename Run>
int RunFirstRunnable(const std::vector<std::string>& candidates, Run run) {
  bool denied = false;
  for (const std::string& candidate : candidates) {
    const int error = run(candidate.c_str());
    if (error == 0) return 0;
    if (error == EACCES) denied = true;
    else if (!MeansNotHere(error)) return error;
  }
  return denied ? EACCES : ENOENT;
}

// The highest descriptor number the process may have; call before fork.
int HighestDescriptor();

// --- In the child, between fork and exec: async-signal-safe calls only. ---

// Every signal back to its default and nothing blocked: a program started on Windows
// inherits neither ignored signals nor a blocked mask, and handlers fall away at exec.
void ResetSignals();
// Descriptors from `first` on, which other code may have opened without O_CLOEXEC, must
// not reach the program.
void MarkDescriptorsCloseOnExec(int first, int highest);
// execvp's search over `candidates`, without its fallback of running a file that is no
// executable through the shell. Returns only when nothing could be run, with the errno to
// report.
int ExecFirstRunnable(const std::vector<std::string>& candidates, char* const* argv,
                      char* const* envp);

}  // namespace platform::posix
