// Roles that a test executable can play when a test re-runs it as a child process.
#pragma once

#include <functional>
#include <string>

namespace testsupport {

// A role gets HVS_TEST_CHILD_ARG and returns the child's exit code.
using ChildRole = std::function<int(const std::string& argument)>;

// Registers `role` at static-initialisation time:
//   static const bool registered = testsupport::RegisterChildRole("writer", [](auto& a) {...});
bool RegisterChildRole(const std::string& name, ChildRole role);

// Runs the role named by HVS_TEST_CHILD_ROLE, if any; true with `exitCode` set when it did.
bool RunRequestedChildRole(int& exitCode);

}  // namespace testsupport
