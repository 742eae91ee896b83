// Test helpers on Windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "tests/support/test_env.h"

namespace testsupport {

namespace {

void CloseOwnedHandle(HANDLE handle) noexcept { ::CloseHandle(handle); }
void CloseSearch(HANDLE search) noexcept { ::FindClose(search); }

// Process and thread handles are null when absent, files and searches INVALID_HANDLE_VALUE.
using UniqueHandle = platform::UniqueAny<HANDLE, &CloseOwnedHandle>;
using UniqueFile =
    platform::UniqueAny<HANDLE, &CloseOwnedHandle, [] { return INVALID_HANDLE_VALUE; }>;
using UniqueSearch = platform::UniqueAny<HANDLE, &CloseSearch, [] { return INVALID_HANDLE_VALUE; }>;

std::string TempBase() {
  char buffer[MAX_PATH + 1];
  const DWORD length = ::GetTempPathA(sizeof buffer, buffer);
  if (length == 0 || length > MAX_PATH) return ".";
  std::string base(buffer, length);
  while (!base.empty() && base.back() == '\\') base.pop_back();
  return base;
}

bool IsDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Read-only files and directories refuse deletion until the attribute is gone.
void MakeWritable(const std::string& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_READONLY)
    ::SetFileAttributesA(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
}

}  // namespace

std::string MakeTempDirectory() {
  static std::atomic<unsigned> counter{0};
  const std::string base = TempBase();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = base + "\\hvs-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(counter++) + "-" + std::to_string(::GetTickCount());
    if (::CreateDirectoryA(path.c_str(), nullptr)) return path;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  ADD_FAILURE() << "cannot create a temporary directory below " << base;
  return base;
}

void RemoveTree(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  MakeWritable(path, attributes);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::DeleteFileA(path.c_str());
    return;
  }
  WIN32_FIND_DATAA found;
  UniqueSearch search(::FindFirstFileA((path + "\\*").c_str(), &found));
  if (search) {
    do {
      if (!IsDotEntry(found.cFileName)) RemoveTree(path + "\\" + found.cFileName);
    } while (::FindNextFileA(search.get(), &found));
  }
  search.reset();
  ::RemoveDirectoryA(path.c_str());
}

// Both the process environment (seen by children and the Win32 calls) and the C
// runtime's copy (seen by getenv) must change.
void SetEnv(const std::string& name, const std::string& value) {
  ::SetEnvironmentVariableA(name.c_str(), value.c_str());
  ::_putenv_s(name.c_str(), value.c_str());
}

void UnsetEnv(const std::string& name) {
  ::SetEnvironmentVariableA(name.c_str(), nullptr);
  ::_putenv_s(name.c_str(), "");
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SetLastWriteTime(const std::string& path, platform::FileTime time) {
  UniqueFile file(::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return false;
  FILETIME written;
  written.dwLowDateTime = static_cast<DWORD>(time);
  written.dwHighDateTime = static_cast<DWORD>(time >> 32);
  return ::SetFileTime(file.get(), nullptr, nullptr, &written) != FALSE;
}

bool SetCreationTime(const std::string& path, platform::FileTime time) {
  UniqueFile file(::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return false;
  FILETIME created;
  created.dwLowDateTime = static_cast<DWORD>(time);
  created.dwHighDateTime = static_cast<DWORD>(time >> 32);
  return ::SetFileTime(file.get(), &created, nullptr, nullptr) != FALSE;
}

int RunChildRole(const std::string& role, const std::string& argument) {
  char self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, self, sizeof self);
  if (length == 0 || length >= sizeof self) return -1;
  std::string commandLine = std::string("\"") + self + "\"";

  SetEnv("HVS_TEST_CHILD_ROLE", role);
  SetEnv("HVS_TEST_CHILD_ARG", argument);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  const BOOL started = ::CreateProcessA(self, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &created);
  UnsetEnv("HVS_TEST_CHILD_ROLE");
  UnsetEnv("HVS_TEST_CHILD_ARG");
  if (!started) return -1;

  UniqueHandle process(created.hProcess);
  UniqueHandle thread(created.hThread);
  if (::WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) return -1;
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(process.get(), &exitCode)) return -1;
  return static_cast<int>(exitCode);
}

}  // namespace testsupport
