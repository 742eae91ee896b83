// A Windows program that makes the faults the end-to-end fault test needs: files held by
// another process, and a registry key that may not be written.
//
//   fault_helper hold PATH READY RELEASE     opens PATH without sharing
//   fault_helper delete PATH READY RELEASE   opens PATH sharing all, then deletes it: the file
//                                            stays listed, but every open fails (delete pending)
//   fault_helper deny KEY                    HKLM\KEY (32-bit view, made if missing) refuses
//                                            value writes and new subkeys to everybody
//   fault_helper allow KEY                   gives HKLM\KEY an ordinary security descriptor back
//
// hold and delete create the file READY once the fault is in place and keep it until the
// file RELEASE exists (at most two minutes, so that the helper never outlives its test).
// Exit status 0 on success, else the Windows error code.
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>

namespace {

int Failed(const char* what) {
  const DWORD error = ::GetLastError();
  std::fprintf(stderr, "fault_helper: %s failed: %lu\n", what, static_cast<unsigned long>(error));
  return error != 0 ? static_cast<int>(error) : 1;
}

bool Exists(const char* path) { return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Marks the fault as made, then keeps `file` open until the test releases it.
int HoldUntilReleased(HANDLE file, const char* ready, const char* release) {
  const HANDLE marker = ::CreateFileA(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return Failed("creating the ready file");
  ::CloseHandle(marker);
  for (int waited = 0; !Exists(release) && waited < 120000; waited += 20) ::Sleep(20);
  ::CloseHandle(file);
  return 0;
}

int Hold(const char* path, const char* ready, const char* release, bool deleteIt) {
  const DWORD share = deleteIt ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0;
  const HANDLE file =
      ::CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Failed("opening the file");
  if (deleteIt && !::DeleteFileA(path)) return Failed("deleting the file");
  return HoldUntilReleased(file, ready, release);
}

int SetKeySecurity(const char* path, const char* descriptor) {
  HKEY key = nullptr;
  LONG error = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0,
                                 WRITE_DAC | READ_CONTROL | KEY_WOW64_32KEY, nullptr, &key,
                                 nullptr);
  if (error != ERROR_SUCCESS) {
    ::SetLastError(static_cast<DWORD>(error));
    return Failed("opening the key");
  }
  PSECURITY_DESCRIPTOR security = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                              &security, nullptr)) {
    ::RegCloseKey(key);
    return Failed("making the security descriptor");
  }
  error = ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, security);
  ::LocalFree(security);
  ::RegCloseKey(key);
  if (error != ERROR_SUCCESS) {
    ::SetLastError(static_cast<DWORD>(error));
    return Failed("setting the key's security");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "hold") == 0) return Hold(argv[2], argv[3], argv[4], false);
  if (argc == 5 && std::strcmp(argv[1], "delete") == 0) return Hold(argv[2], argv[3], argv[4], true);
  // Everybody: no value written, no subkey made (0x6); all else allowed.
  if (argc == 3 && std::strcmp(argv[1], "deny") == 0)
    return SetKeySecurity(argv[2], "D:(D;;0x6;;;WD)(A;;KA;;;WD)");
  if (argc == 3 && std::strcmp(argv[1], "allow") == 0)
    return SetKeySecurity(argv[2], "D:(A;;KA;;;WD)");
  std::fprintf(stderr, "usage: fault_helper hold|delete PATH READY RELEASE | deny|allow KEY\n");
  return 87;
}
