// The table of child roles and their dispatch at start-up.
#include "tests/support/child_role.h"

#include <cstdlib>
#include <map>

namespace testsupport {

namespace {
std::map<std::string, ChildRole>& Roles() {
  static std::map<std::string, ChildRole> roles;
  return roles;
}
}  // namespace

bool RegisterChildRole(const std::string& name, ChildRole role) {
  Roles()[name] = std::move(role);
  return true;
}

bool RunRequestedChildRole(int& exitCode) {
  const char* name = std::getenv("HVS_TEST_CHILD_ROLE");
  if (name == nullptr || *name == '\0') return false;
  const char* argument = std::getenv("HVS_TEST_CHILD_ARG");
  auto role = Roles().find(name);
  exitCode = role == Roles().end() ? 99 : role->second(argument ? argument : "");
  return true;
}

}  // namespace testsupport
