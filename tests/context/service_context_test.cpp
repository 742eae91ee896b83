// ServiceContext: the directories next to the program and the parts built on them.
#include <gtest/gtest.h>

#include "context/service_context.h"
#include "tests/support/registry_tree.h"
#include "tests/support/test_env.h"

namespace hvs {
namespace {

class ServiceContextTest : public ::testing::Test {
 protected:
  ServiceContextTest() { testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane"); }
  ~ServiceContextTest() override { testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane"); }
  testsupport::TempDirectory program;
};

TEST_F(ServiceContextTest, FirstStartCreatesLogsAndConfigAndTheLogGoesThere) {
  ServiceContext context(program.path(), false);
  EXPECT_EQ(context.LogsDirectory(), program / "Logs");
  EXPECT_EQ(context.ConfigDirectory(), program / "Config");
  EXPECT_TRUE(testsupport::FileExists(program / "Logs"));
  EXPECT_TRUE(testsupport::FileExists(program / "Config"));
  EXPECT_FALSE(context.log().echo());

  context.log().Log("Service Started.");
  const std::string text = testsupport::ReadFile(platform::JoinPath(program / "Logs", "HVS.Log"));
  EXPECT_NE(text.find("] Service Started.\r\n"), std::string::npos);
}

TEST_F(ServiceContextTest, VariablesAreReadAtConstruction) {
  ServiceContext context(program.path(), true);
  EXPECT_TRUE(context.foreground());
  EXPECT_TRUE(context.log().echo());
  EXPECT_EQ(context.variables().values().at("DATABASEDSN"), "zav_svmeridel");
  EXPECT_EQ(context.variables().values().size(), 20u);
}

TEST_F(ServiceContextTest, ExistingDirectoriesAndTheirFilesAreKept) {
  { ServiceContext first(program.path(), false); }
  testsupport::WriteFile(platform::JoinPath(program / "Config", "job.xml"), "<Task/>");
  ServiceContext second(program.path(), false);
  EXPECT_EQ(testsupport::ReadFile(platform::JoinPath(program / "Config", "job.xml")), "<Task/>");
}

TEST_F(ServiceContextTest, FileInPlaceOfLogsLosesLinesWithoutFailing) {
  testsupport::WriteFile(program / "Logs", "not a directory");
  ServiceContext context(program.path(), false);
  context.log().Log("lost");
  EXPECT_EQ(testsupport::ReadFile(program / "Logs"), "not a directory");
  EXPECT_TRUE(testsupport::FileExists(program / "Config"));
}

}  // namespace
}  // namespace hvs
