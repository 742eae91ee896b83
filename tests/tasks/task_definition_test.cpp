// The parse of a task file's text: which elements it gave, and what it reported.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tasks/task_definition.h"

namespace hvs {
namespace {

TEST(TaskDefinitionTest, EachElementKnowsWhetherTheFileGaveIt) {
  const struct {
    const char* text;
    bool parses;
    std::optional<std::string> name, command;
    std::optional<std::int32_t> period;
    std::optional<bool> forceKill;
    std::vector<std::string> messages;
  } cases[] = {
      {"<Task><Name>N</Name><Command>c.exe</Command><ForceKill>no</ForceKill>"
       "<Schedule><WaitPeriodSeconds>-2147483648</WaitPeriodSeconds></Schedule></Task>",
       true, "N", "c.exe", INT32_MIN, false, {}},
      {"<Task><Name/><Schedule/></Task>", true, "", {}, {}, {}, {}},
      {"<Task><WaitPeriodSeconds>5</WaitPeriodSeconds><Schedule><Every>1</Every></Schedule></Task>",
       true, {}, {}, {}, {}, {"Unknown node: WaitPeriodSeconds\n", "Unknown node: Every\n"}},
      {"<Task/>", true, {}, {}, {}, {}, {}},
      {"<!-- only a comment -->", false, {}, {}, {}, {}, {}},
      {"<Task><Name>x</Name>", false, {}, {}, {}, {},
       {"Couldn't parse job.xml: unexpected end of data at byte 20.\n"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> messages;
    LogFile log(false);
    log.Divert([&](std::string_view message) { messages.emplace_back(message); });
    const std::optional<TaskDefinition> definition = ParseTaskDefinition(c.text, "job.xml", log);
    EXPECT_EQ(messages, c.messages) << c.text;
    ASSERT_EQ(definition.has_value(), c.parses) << c.text;
    if (!definition) continue;
    EXPECT_EQ(definition->name, c.name) << c.text;
    EXPECT_EQ(definition->command, c.command) << c.text;
    EXPECT_EQ(definition->waitPeriodSeconds, c.period) << c.text;
    EXPECT_EQ(definition->forceKill, c.forceKill) << c.text;
  }
}

}  // namespace
}  // namespace hvs
