// Files and directories: paths in the platform's own form, file times in 100 ns since 1601.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/unique_any.h"

namespace platform {

// 100 ns units since 1601-01-01 00:00 UTC on every target, so that times compare alike.
using FileTime = std::uint64_t;

// The separator of path levels: `\` on Windows, `/` on POSIX.
char PathSeparator() noexcept;
// `directory` + separator + `name`.
std::string JoinPath(std::string_view directory, std::string_view name);

// Full path of the running executable; empty when it cannot be found.
std::string ProgramPath();

// Creates one directory; 183 when it exists already. POSIX: mode 0750 (less the umask),
// since the log and the task files in it hold full commands.
Error CreateDirectory(const std::string& path);

struct FileEntry {
  std::string name;  // without directory
  bool isDirectory = false;
  FileTime creationTime = 0;  // where the file system has no birth time: the last write
  FileTime lastWriteTime = 0;
  std::uint64_t size = 0;  // in bytes; 0 for a directory
};

// Lists the entries of one directory that match `pattern` = directory + separator +
// a name with `*` and `?`, compared without regard to case as the Windows search does.
// "." and ".." are never listed. 2 or 3 when the directory cannot be searched; a
// pattern that matches nothing is success with no entries. POSIX: a symbolic link is
// described by the file it leads to (a dangling one by itself), so that a task file
// deployed as a link reloads when its target changes.
Error FindFiles(const std::string& pattern, std::vector<FileEntry>& entries);

// Appends `data` to the file, creating it when absent. The file is open only for the
// call; on Windows other programs may read it meanwhile but not write it. A file it
// creates has the current time as its creation time: Windows would otherwise give a name
// that was removed or renamed seconds ago the old file's ("tunnelling"); POSIX file
// systems give a new file a birth time of its own, which cannot be set. POSIX: mode 0640.
Error AppendToFile(const std::string& path, std::string_view data);

// Renames a file; fails (183) instead of replacing an existing `to`.
Error RenameFile(const std::string& from, const std::string& to);
Error RemoveFile(const std::string& path);

namespace detail {
void CloseFile(std::intptr_t file) noexcept;
}

// A file written from its start, replacing what it held. Other programs may read it
// meanwhile (on Windows also rename or delete it). POSIX: mode 0640.
class OutputFile {
 public:
  // Creates the file or empties the one there; 0 or the system's error.
  Error Create(const std::string& path);
  // Writes all of `data` after what was written before.
  Error Write(std::string_view data);
  bool IsOpen() const noexcept { return file_.valid(); }
  void Close() noexcept { file_.reset(); }

 private:
  UniqueAny<std::intptr_t, &detail::CloseFile, std::intptr_t{-1}> file_;
};

// A file opened for reading without sharing it with other writers.
class InputFile {
 public:
  // 0 on success; 2 when absent, 5 when denied or a directory, 32 when shared away,
  // kNotRegularFile for anything else that is no regular file (after links are followed):
  // a FIFO or device is refused without blocking and without being read.
  Error Open(const std::string& path);
  // The file's size in bytes as Open found it; 0 when nothing is open.
  std::uint64_t Size() const noexcept { return size_; }
  // Reads up to `capacity` bytes; `count` 0 at the end of the file.
  Error Read(void* buffer, std::uint32_t capacity, std::uint32_t& count);
  void Close() noexcept {
    file_.reset();
    size_ = 0;
  }

 private:
  UniqueAny<std::intptr_t, &detail::CloseFile, std::intptr_t{-1}> file_;
  std::uint64_t size_ = 0;
};

}  // namespace platform
