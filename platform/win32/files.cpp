// Files and directories over the Win32 calls.
#include "platform/files.h"

#include <windows.h>

#include <algorithm>

// <windows.h> maps the name to CreateDirectoryA/W; ours is the platform's own function.
#undef CreateDirectory

namespace platform {

namespace {

void CloseSearch(HANDLE search) noexcept { ::FindClose(search); }
void CloseHandleOwner(HANDLE handle) noexcept { ::CloseHandle(handle); }

using UniqueSearch = UniqueAny<HANDLE, &CloseSearch, [] { return INVALID_HANDLE_VALUE; }>;
using UniqueFile = UniqueAny<HANDLE, &CloseHandleOwner, [] { return INVALID_HANDLE_VALUE; }>;

Error LastError() noexcept { return static_cast<Error>(::GetLastError()); }

FileTime ToFileTime(const FILETIME& time) noexcept {
  return (static_cast<FileTime>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool IsDotEntry(const char* name) noexcept {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

FileEntry ToEntry(const WIN32_FIND_DATAA& found) {
  FileEntry entry;
  entry.name = found.cFileName;
  entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry.creationTime = ToFileTime(found.ftCreationTime);
  entry.lastWriteTime = ToFileTime(found.ftLastWriteTime);
  if (!entry.isDirectory)
    entry.size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  return entry;
}

// NTFS hands a file created under a name removed or renamed seconds ago that file's
// creation time; a new file is meant to be new. A failure leaves the system's time.
void StampCreationNow(HANDLE file) noexcept {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  ::SetFileTime(file, &now, nullptr, nullptr);
}

HANDLE AsHandle(std::intptr_t file) noexcept { return reinterpret_cast<HANDLE>(file); }

// File names compare in upper case, in the ANSI code page, as the file system does.
std::string UpperCase(std::string_view text) {
  std::string upper(text);
  const int size = static_cast<int>(text.size());
  if (size > 0 && ::LCMapStringA(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.data(), size,
                                 upper.data(), size) != size)
    upper.assign(text);
  return upper;
}

// `*` and `?` over bytes, both sides already in one case.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// The system also matches the generated 8.3 alias, so "*.xml" would find "a.xmlbak"
// through "A~1.XML"; only names that match in full are meant.
class LongNameFilter {
 public:
  explicit LongNameFilter(const std::string& pattern)
      : pattern_(UpperCase(pattern.substr(pattern.find_last_of("\\/:") + 1))) {}
  bool Matches(const char* name) const { return WildcardMatch(pattern_, UpperCase(name)); }

 private:
  std::string pattern_;
};

}  // namespace

char PathSeparator() noexcept { return '\\'; }

std::string ProgramPath() {
  char buffer[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  // A full buffer means the path was cut off; a cut path would name another file.
  if (length == 0 || length >= sizeof buffer) return std::string();
  return std::string(buffer, length);
}

Error CreateDirectory(const std::string& path) {
  return ::CreateDirectoryA(path.c_str(), nullptr) ? kSuccess : LastError();
}

Error FindFiles(const std::string& pattern, std::vector<FileEntry>& entries) {
  entries.clear();
  WIN32_FIND_DATAA found;
  UniqueSearch search(::FindFirstFileA(pattern.c_str(), &found));
  if (!search) {
    const Error error = LastError();
    // An existing directory without a match answers 2; a missing directory answers 3.
    return error == kFileNotFound ? kSuccess : error;
  }
  const LongNameFilter filter(pattern);
  do {
    if (!IsDotEntry(found.cFileName) && filter.Matches(found.cFileName))
      entries.push_back(ToEntry(found));
  } while (::FindNextFileA(search.get(), &found));
  const Error error = LastError();
  return error == ERROR_NO_MORE_FILES ? kSuccess : error;
}

Error AppendToFile(const std::string& path, std::string_view data) {
  if (data.size() > MAXDWORD) return kInvalidParameter;
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return LastError();
  if (::GetLastError() != ERROR_ALREADY_EXISTS) StampCreationNow(file.get());
  if (::SetFilePointer(file.get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
      ::GetLastError() != NO_ERROR)
    return LastError();
  const DWORD size = static_cast<DWORD>(data.size());
  DWORD written = 0;
  if (!::WriteFile(file.get(), data.data(), size, &written, nullptr)) return LastError();
  // A short write without an error code: the disk is full.
  return written == size ? kSuccess : static_cast<Error>(ERROR_HANDLE_DISK_FULL);
}

Error OutputFile::Create(const std::string& path) {
  // Shared for deleting too, so that an administrator can remove the file of a run under way.
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    file_.reset();
    return LastError();
  }
  file_.reset(reinterpret_cast<std::intptr_t>(file));
  return kSuccess;
}

Error OutputFile::Write(std::string_view data) {
  if (!file_) return kInvalidHandle;
  while (!data.empty()) {
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(AsHandle(file_.get()), data.data(), size, &written, nullptr))
      return LastError();
    if (written == 0) return static_cast<Error>(ERROR_HANDLE_DISK_FULL);
    data.remove_prefix(written);
  }
  return kSuccess;
}

Error RenameFile(const std::string& from, const std::string& to) {
  return ::MoveFileA(from.c_str(), to.c_str()) ? kSuccess : LastError();
}

Error RemoveFile(const std::string& path) {
  return ::DeleteFileA(path.c_str()) ? kSuccess : LastError();
}

namespace detail {
void CloseFile(std::intptr_t file) noexcept { ::CloseHandle(AsHandle(file)); }
}  // namespace detail

Error InputFile::Open(const std::string& path) {
  Close();
  const HANDLE file =
      ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  file_.reset(reinterpret_cast<std::intptr_t>(file));
  // Devices and pipes are no files to read a definition from.
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    Close();
    return kNotRegularFile;
  }
  LARGE_INTEGER bytes;
  if (!::GetFileSizeEx(file, &bytes)) {
    const Error error = LastError();
    Close();
    return error;
  }
  size_ = static_cast<std::uint64_t>(bytes.QuadPart);
  return kSuccess;
}

Error InputFile::Read(void* buffer, std::uint32_t capacity, std::uint32_t& count) {
  count = 0;
  // The invalid value is also the current process's pseudo-handle; never pass it on.
  if (!file_) return kInvalidHandle;
  DWORD got = 0;
  const BOOL ok = ::ReadFile(AsHandle(file_.get()), buffer, capacity, &got, nullptr);
  count = got;
  return ok ? kSuccess : LastError();
}

}  // namespace platform
