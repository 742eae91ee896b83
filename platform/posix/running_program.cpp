// Whether a command's program already runs on Linux: found by its file, not by a name that many programs share.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/child_exec.h"
#include "platform/posix/command_line.h"
#include "platform/posix/process_list.h"
#include "platform/process.h"

namespace platform {

namespace {

using UniqueFd = UniqueAny<int, &::close, [] { return -1; }>;

struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileId&) const = default;
};

// A shell or interpreter runs the file it is given, so that file is the program to look
// for; `textOptions` are the option letters that give it the program's text instead
// (sh -c, perl -e), and such a command runs no file of its own.
struct Interpreter {
  std::string_view name;
  std::string_view textOptions;
};
constexpr Interpreter kInterpreters[] = {
    {"sh", "c"},      {"bash", "c"},    {"dash", "c"},   {"zsh", "c"},   {"ksh", "c"},
    {"python", "cm"}, {"python3", "cm"}, {"perl", "eE"}, {"ruby", "e"},  {"node", "ep"},
    {"php", "r"},     {"env", "S"},
};

std::string_view BaseName(std::string_view path) {
  return path.substr(path.find_last_of('/') + 1);
}

const Interpreter* InterpreterNamed(std::string_view program) {
  for (const Interpreter& interpreter : kInterpreters)
    if (interpreter.name == BaseName(program)) return &interpreter;
  return nullptr;
}

// What identifies the program: its file, and for a script the names it is given by.
struct Program {
  enum class Kind { kNone, kExecutable, kScript } kind = Kind::kNone;
  FileId file;
  std::string realPath;                  // kExecutable: the file's path without links
  std::vector<std::string> scriptNames;  // base names an argument naming the script has
};

bool RegularFileAt(int directory, const char* path, FileId& file, bool* deleted = nullptr) {
  struct stat info {};
  if (::fstatat(directory, path, &info, 0) != 0 || !S_ISREG(info.st_mode)) return false;
  file = {info.st_dev, info.st_ino};
  if (deleted != nullptr) *deleted = info.st_nlink == 0;
  return true;
}

// A program replaced on disk while it runs is still that program: its process's link
// names the old file's path, marked deleted.
bool RunsReplacedFile(int procFd, const std::string& exeLink, const std::string& realPath) {
  constexpr std::string_view kDeleted = " (deleted)";
  char target[PATH_MAX];
  const ssize_t length = ::readlinkat(procFd, exeLink.c_str(), target, sizeof target);
  return length > 0 && length < static_cast<ssize_t>(sizeof target) &&
         std::string_view(target, static_cast<std::size_t>(length)) ==
             realPath + std::string(kDeleted);
}

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string result = real;
  ::free(real);
  return result;
}

Program Script(const std::string& path, const FileId& file) {
  Program program{Program::Kind::kScript, file, {}, {std::string(BaseName(path))}};
  // Given through a link, the file may also be named by its own name.
  const std::string real = RealPath(path);
  if (BaseName(real) != program.scriptNames.front()) program.scriptNames.emplace_back(BaseName(real));
  return program;
}

bool StartsWithHashBang(const std::string& path) {
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  char start[2] = {};
  return file && ::read(file.get(), start, sizeof start) == 2 && start[0] == '#' && start[1] == '!';
}

// The file an interpreter is given: its first argument that names a regular file, unless
// an option that takes the program's text comes first.
Program InterpretedProgram(const Interpreter& interpreter, const std::vector<std::string>& arguments) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.size() > 1 && argument[0] == '-') {
      if (argument[1] != '-' && argument.find_first_of(interpreter.textOptions, 1) != std::string::npos)
        return {};
      continue;
    }
    FileId file;
    if (RegularFileAt(AT_FDCWD, argument.c_str(), file)) return Script(argument, file);
  }
  return {};
}

// The command's program as Create finds it: the first candidate that is a regular file
// this process may run.
Program ProgramOf(const std::string& commandLine) {
  const std::vector<std::string> arguments = posix::SplitCommandLine(commandLine);
  if (const Interpreter* interpreter = InterpreterNamed(arguments.front()))
    return InterpretedProgram(*interpreter, arguments);
  for (const std::string& candidate :
       posix::ExecutableCandidates(arguments.front(), posix::ProgramDirectory())) {
    FileId file;
    if (!RegularFileAt(AT_FDCWD, candidate.c_str(), file) ||
        ::faccessat(AT_FDCWD, candidate.c_str(), X_OK, AT_EACCESS) != 0)
      continue;
    if (StartsWithHashBang(candidate)) return Script(candidate, file);
    return {Program::Kind::kExecutable, file, RealPath(candidate), {}};
  }
  return {};
}

// The process's arguments, NUL-separated as the kernel keeps them; empty when unreadable.
bool ReadArguments(int procFd, const char* pid, std::string& arguments) {
  arguments.clear();
  UniqueFd file(::openat(procFd, (std::string(pid) + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return false;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0;
    arguments.append(buffer, static_cast<std::size_t>(got));
  }
}

// Whether one of the process's arguments names the script's file; a relative one is taken
// from the process's working directory. Only arguments with one of the script's base names
// are looked up.
bool NamesScript(int procFd, const char* pid, const std::string& arguments, const Program& script) {
  std::string_view rest = arguments;
  while (!rest.empty()) {
    const std::string_view argument = rest.substr(0, rest.find('\0'));
    rest.remove_prefix(std::min(rest.size(), argument.size() + 1));
    bool candidate = false;
    for (const std::string& name : script.scriptNames) candidate = candidate || BaseName(argument) == name;
    if (!candidate) continue;
    const std::string path = argument.starts_with('/') ? std::string(argument)
                                                       : std::string(pid) + "/cwd/" + std::string(argument);
    FileId file;
    if (RegularFileAt(argument.starts_with('/') ? AT_FDCWD : procFd, path.c_str(), file) &&
        file == script.file)
      return true;
  }
  return false;
}

}  // namespace

ProgramSearch FindRunningProgram(const std::string& commandLine) {
  const Program program = ProgramOf(commandLine);
  if (program.kind == Program::Kind::kNone) return ProgramSearch::kNotRunning;
  posix::UniqueDir proc(::opendir("/proc"));
  if (!proc) return ProgramSearch::kNotRunning;  // nothing can be found, and the start goes ahead
  const int procFd = ::dirfd(proc.get());
  std::string arguments;
  while (const dirent* entry = ::readdir(proc.get())) {
    if (!posix::IsProcessEntry(*entry)) continue;
    if (program.kind == Program::Kind::kExecutable) {
      // The link leads to the executable's file even when it has been deleted.
      const std::string exeLink = std::string(entry->d_name) + "/exe";
      FileId running;
      bool deleted = false;
      if (RegularFileAt(procFd, exeLink.c_str(), running, &deleted) &&
          (running == program.file || (deleted && RunsReplacedFile(procFd, exeLink, program.realPath))))
        return ProgramSearch::kRunning;
    } else if (ReadArguments(procFd, entry->d_name, arguments) &&
               NamesScript(procFd, entry->d_name, arguments, program)) {
      return ProgramSearch::kRunning;
    }
  }
  return ProgramSearch::kNotRunning;
}

}  // namespace platform
