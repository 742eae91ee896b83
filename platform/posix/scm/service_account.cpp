// Service accounts from the user database, and the fixed environment services start with.
#include "platform/posix/scm/service_account.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/posix/errno_map.h"
#include "platform/posix/scm/scm_internal.h"
#include "platform/posix/state_dir.h"
#include "platform/strings.h"

extern char** environ;

namespace platform::posix {

namespace {

constexpr char kLocalMachinePrefix[] = ".\\";

// The user database entry of `name` (or of `uid` when `name` is empty); 1057 when none.
Error LookUp(const std::string& name, uid_t uid, ServiceAccount& account) {
  std::vector<char> buffer(16384);
  passwd entry {};
  passwd* found = nullptr;
  const int error = name.empty()
                        ? ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)
                        : ::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
  if (error != 0) return FromErrno(error);
  if (found == nullptr) return kInvalidServiceAccount;
  account.uid = found->pw_uid;
  account.gid = found->pw_gid;
  account.name = found->pw_name;
  account.home = found->pw_dir != nullptr ? found->pw_dir : "/";
  return kSuccess;
}

Error GroupsOf(ServiceAccount& account) {
  int count = 32;
  for (;;) {
    account.groups.assign(static_cast<std::size_t>(count), 0);
    const int previous = count;
    if (::getgrouplist(account.name.c_str(), account.gid, account.groups.data(), &count) >= 0) {
      account.groups.resize(static_cast<std::size_t>(count));
      return kSuccess;
    }
    if (count <= previous) return kNotEnoughMemory;  // cannot grow any further
  }
}

bool IsLocale(std::string_view entry) {
  for (const std::string_view name : {"LANG=", "LANGUAGE=", "TZ="})
    if (entry.starts_with(name)) return true;
  return entry.starts_with("LC_") && entry.find('=') != std::string_view::npos;
}

bool IsOwnSetting(std::string_view entry) {
  // HVS_STATE_DIR comes resolved, and the launch variables come from the starter itself.
  return entry.starts_with("HVS_") && !entry.starts_with("HVS_STATE_DIR=") &&
         !entry.starts_with("HVS_SERVICE_");
}

}  // namespace

Error ResolveServiceAccount(const std::string& recorded, ServiceAccount& account) {
  account = ServiceAccount{};
  std::string name = recorded;
  if (name.starts_with(kLocalMachinePrefix)) name.erase(0, sizeof kLocalMachinePrefix - 1);
  const bool starter = name.empty() || CompareNoCase(name, "LocalSystem") == 0;
  if (const Error error = LookUp(starter ? std::string() : name, ::geteuid(), account)) {
    if (!starter) return error;
    // A starter missing from the user database still runs its own services.
    account.uid = ::geteuid();
    account.gid = ::getegid();
    account.name = std::to_string(account.uid);
    account.home.assign(1, '/');  // not = "/": GCC 12 at -O2 warns of an overlapping copy
  }
  if (starter || account.uid == ::geteuid()) return kSuccess;
  if (::geteuid() != 0) return kServiceLogonFailed;
  account.switchUser = true;
  return GroupsOf(account);
}

std::vector<std::string> ServiceEnvironment(const ServiceAccount& account) {
  std::vector<std::string> environment = {
      std::string("PATH=") + kServicePath,
      "HVS_STATE_DIR=" + StateDirectory(),
      "HOME=" + account.home,
      "USER=" + account.name,
      "LOGNAME=" + account.name,
  };
  for (char** entry = environ; *entry != nullptr; ++entry)
    if (IsLocale(*entry) || IsOwnSetting(*entry)) environment.emplace_back(*entry);
  return environment;
}

}  // namespace platform::posix
