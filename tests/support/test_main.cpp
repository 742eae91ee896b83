// Entry of every test executable: a child role, or the tests with a private state directory.
#include <gtest/gtest.h>

#include "tests/support/child_role.h"
#include "tests/support/test_env.h"

int main(int argc, char** argv) {
  int exitCode = 0;
  if (testsupport::RunRequestedChildRole(exitCode)) return exitCode;

  // The POSIX registry store and event log live here; Windows ignores the variable.
  const std::string state = testsupport::MakeTempDirectory();
  testsupport::SetEnv("HVS_STATE_DIR", state);

  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  testsupport::RemoveTree(state);
  return result;
}
