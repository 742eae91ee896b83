// The list of running executables' base names, with copies of the test executable as probes.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

namespace {

std::string BaseName(const std::string& path) {
  return path.substr(path.find_last_of(platform::PathSeparator()) + 1);
}

bool Listed(const std::string& name) {
  bool found = false;
  EXPECT_EQ(platform::VisitRunningExecutables([&](const std::string& running) {
              found = running == name;
              return found;
            }),
            platform::kSuccess);
  return found;
}

TEST(RunningExecutables, IncludeThisTestByItsBaseName) {
  EXPECT_TRUE(Listed(BaseName(testsupport::SelfPath())));
}

TEST(RunningExecutables, StopAtTheFirstNameTheVisitorTakes) {
  int visits = 0;
  EXPECT_EQ(platform::VisitRunningExecutables([&](const std::string&) { return ++visits > 0; }),
            platform::kSuccess);
  EXPECT_EQ(visits, 1);
}

TEST(RunningExecutables, CutLongNamesTo49Characters) {
  testsupport::TempDirectory dir;
  const std::string unique = std::to_string(std::random_device{}());
  const std::string name = "hvs_probe_" + unique + std::string(60, 'x') + ".exe";
  ASSERT_TRUE(testsupport::CopySelfTo(dir / name));
  testsupport::ChildProcess probe;
  ASSERT_TRUE(probe.Start(dir / name, "sleep-then-exit", "60000 0"));  // role of process_test.cpp

  EXPECT_TRUE(testsupport::Eventually([&] { return Listed(name.substr(0, 49)); }));
  EXPECT_FALSE(Listed(name));
  EXPECT_TRUE(probe.Kill());
}

}  // namespace
