// Roles for the console-close script: a console event as Windows delivers it, and a process count.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "platform/unique_any.h"
#include "tests/support/child_role.h"

namespace {

void CloseNative(HANDLE handle) noexcept { ::CloseHandle(handle); }
HANDLE NoSnapshot() noexcept { return INVALID_HANDLE_VALUE; }
using UniqueHandle = platform::UniqueAny<HANDLE, &CloseNative>;
using UniqueSnapshot = platform::UniqueAny<HANDLE, &CloseNative, &NoSnapshot>;

// Ids of the running processes whose executable is `name` (without regard to case).
std::vector<DWORD> ProcessesNamed(const std::string& name) {
  std::vector<DWORD> ids;
  const UniqueSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ids;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
       more = ::Process32Next(snapshot.get(), &entry))
    if (::lstrcmpiA(entry.szExeFile, name.c_str()) == 0) ids.push_back(entry.th32ProcessID);
  return ids;
}

// Argument: an executable's name. Prints how many processes run it.
const bool countRole = testsupport::RegisterChildRole("process-count", [](const std::string& name) {
  std::printf("%u\n", static_cast<unsigned>(ProcessesNamed(name).size()));
  return 0;
});

// Argument: the event number and an executable's name, of which exactly one process runs.
// The system delivers a console event on a thread it creates in the process at
// CtrlRoutine; once that returns from a close, log-off or shutdown, Windows ends the
// process. This does both and prints how long the handler took, in ms.
const bool eventRole = testsupport::RegisterChildRole("system-console-event", [](const std::string& argument) {
  std::istringstream fields(argument);
  DWORD event = 0;
  std::string name;
  fields >> event >> name;
  const std::vector<DWORD> ids = ProcessesNamed(name);
  if (ids.size() != 1) return 2;
  const UniqueHandle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, ids.front()));
  // kernel32 lies at the same address in every process of a session.
  const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "CtrlRoutine")));
  if (!process || routine == nullptr) return 3;
  const DWORD sent = ::GetTickCount();
  const UniqueHandle thread(::CreateRemoteThread(process.get(), nullptr, 0, routine,
                                                 reinterpret_cast<void*>(std::uintptr_t{event}),
                                                 0, nullptr));
  if (!thread || ::WaitForSingleObject(thread.get(), 10000) != WAIT_OBJECT_0) return 4;
  std::printf("%lu\n", static_cast<unsigned long>(::GetTickCount() - sent));
  ::TerminateProcess(process.get(), 0xC000013A);  // STATUS_CONTROL_C_EXIT, as the system ends it
  return 0;
});

}  // namespace
