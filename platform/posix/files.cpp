// Files and directories on POSIX, with Windows' search semantics where the core relies on them.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/clock.h"
#include "platform/posix/errno_map.h"

namespace platform {

namespace {

using UniqueDir = UniqueAny<DIR*, &::closedir>;

FileTime ToFileTime(const struct statx_timestamp& stamp) {
  return SecondsToFileTime(stamp.tv_sec) + stamp.tv_nsec / 100;
}

// Windows patterns know only `*` and `?`; a `[` is an ordinary character there.
std::string ToFnmatchPattern(const std::string& pattern) {
  std::string converted;
  for (char c : pattern) {
    if (c == '[') converted += "[[]";
    else converted += c;
  }
  return converted;
}

// Links are followed: what counts is the file they lead to. Same one call per entry.
bool Describe(int directoryFd, const char* name, FileEntry& entry) {
  constexpr unsigned kWanted = STATX_TYPE | STATX_MTIME | STATX_BTIME | STATX_SIZE;
  struct statx info {};
  if (::statx(directoryFd, name, 0, kWanted, &info) != 0 &&
      ::statx(directoryFd, name, AT_SYMLINK_NOFOLLOW, kWanted, &info) != 0)
    return false;
  entry.name = name;
  entry.isDirectory = S_ISDIR(info.stx_mode);
  entry.size = entry.isDirectory ? 0 : info.stx_size;
  entry.lastWriteTime = ToFileTime(info.stx_mtime);
  entry.creationTime =
      (info.stx_mask & STATX_BTIME) ? ToFileTime(info.stx_btime) : entry.lastWriteTime;
  return true;
}

Error WriteAll(int file, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(file, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return posix::LastErrno();
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return kSuccess;
}

}  // namespace

char PathSeparator() noexcept { return '/'; }

std::string ProgramPath() {
  char buffer[4096];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

Error CreateDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0750) == 0 ? kSuccess : posix::LastErrno();
}

Error FindFiles(const std::string& pattern, std::vector<FileEntry>& entries) {
  entries.clear();
  const auto slash = pattern.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "." : pattern.substr(0, slash);
  const std::string namePattern =
      ToFnmatchPattern(slash == std::string::npos ? pattern : pattern.substr(slash + 1));

  UniqueDir dir(::opendir(directory.empty() ? "/" : directory.c_str()));
  if (!dir) return errno == ENOENT ? kPathNotFound : posix::LastErrno();
  while (const dirent* item = ::readdir(dir.get())) {
    const std::string_view name = item->d_name;
    if (name == "." || name == "..") continue;
    if (::fnmatch(namePattern.c_str(), item->d_name, FNM_NOESCAPE | FNM_CASEFOLD) != 0) continue;
    FileEntry entry;
    if (Describe(::dirfd(dir.get()), item->d_name, entry)) entries.push_back(std::move(entry));
  }
  return kSuccess;
}

Error AppendToFile(const std::string& path, std::string_view data) {
  UniqueAny<int, &::close, -1> file(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640));
  if (!file) return posix::LastErrno();
  return WriteAll(file.get(), data);
}

Error OutputFile::Create(const std::string& path) {
  file_.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640));
  return file_ ? kSuccess : posix::LastErrno();
}

Error OutputFile::Write(std::string_view data) {
  if (!file_) return kInvalidHandle;
  return WriteAll(static_cast<int>(file_.get()), data);
}

Error RenameFile(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return kSuccess;
  if (errno != EINVAL && errno != ENOSYS) return posix::LastErrno();
  // File systems without RENAME_NOREPLACE: a hard link fails just the same when `to` exists.
  if (::link(from.c_str(), to.c_str()) != 0) return posix::LastErrno();
  ::unlink(from.c_str());
  return kSuccess;
}

Error RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? kSuccess : posix::LastErrno();
}

namespace detail {
void CloseFile(std::intptr_t file) noexcept { ::close(static_cast<int>(file)); }
}  // namespace detail

Error InputFile::Open(const std::string& path) {
  Close();
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer, for ever.
  file_.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!file_) return posix::LastErrno();
  struct stat info {};
  if (::fstat(static_cast<int>(file_.get()), &info) != 0) {
    const Error error = posix::LastErrno();
    Close();
    return error;
  }
  if (S_ISREG(info.st_mode)) {
    size_ = static_cast<std::uint64_t>(info.st_size);
    return kSuccess;
  }
  Close();
  // A directory answers as Windows answers for one opened as a file.
  return S_ISDIR(info.st_mode) ? kAccessDenied : kNotRegularFile;
}

Error InputFile::Read(void* buffer, std::uint32_t capacity, std::uint32_t& count) {
  count = 0;
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(file_.get()), buffer, capacity);
    if (got >= 0) {
      count = static_cast<std::uint32_t>(got);
      return kSuccess;
    }
    if (errno != EINTR) return posix::LastErrno();
  }
}

}  // namespace platform
