// Whom a service of the POSIX service control manager runs as, and with what environment.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/error.h"

namespace platform::posix {

// The search path of a service, whoever started it.
inline constexpr char kServicePath[] =
    "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

struct ServiceAccount {
  bool switchUser = false;  // false: the service runs as the starter
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
  std::string name;  // USER
  std::string home;  // HOME
};

// The account recorded at installation, for a start by this process. None (empty or
// "LocalSystem") and the starter's own user run as the starter. Another account (a
// leading ".\" names this machine) runs as that account when the starter is root, with
// its uid, gid and groups; a starter that is not root is refused with 1069. An account
// that does not exist is 1057.
Error ResolveServiceAccount(const std::string& recorded, ServiceAccount& account);

// The environment a service starts with, nothing else of the starter's: PATH
// (kServicePath); HVS_STATE_DIR (the starter's state directory, so that the service finds
// the same store) and the starter's other HVS_ settings; the starter's locale (LANG,
// LANGUAGE, LC_*) and TZ; the account's HOME, USER and LOGNAME. Each entry is NAME=value.
std::vector<std::string> ServiceEnvironment(const ServiceAccount& account);

}  // namespace platform::posix
