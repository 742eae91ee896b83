// The parse of a task file's text: which elements it gave, and what it reported.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tasks/task_definition.h"

namespace hvs {
namespace {

// The definition in `text`, read as job.xml; what the parse logged goes to `messages`.
std::optional<TaskDefinition> Parse(const char* text, std::vector<std::string>& messages) {
  LogFile log(false);
  log.Divert([&](std::string_view message) { messages.emplace_back(message); });
  return ParseTaskDefinition(text, "job.xml", log);
}

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
    const std::optional<TaskDefinition> definition = Parse(c.text, messages);
    EXPECT_EQ(messages, c.messages) << c.text;
    ASSERT_EQ(definition.has_value(), c.parses) << c.text;
    if (!definition) continue;
    EXPECT_EQ(definition->name, c.name) << c.text;
    EXPECT_EQ(definition->command, c.command) << c.text;
    EXPECT_EQ(definition->waitPeriodSeconds, c.period) << c.text;
    EXPECT_EQ(definition->forceKill, c.forceKill) << c.text;
  }
}

// The elements of calendar schedules, retries and switching off; a Cron expression that does
// not parse fails the file, after the unknown nodes before it have been reported.
TEST(TaskDefinitionTest, CronEnabledAndRetriesAreReadAsWritten) {
  const struct {
    const char* text;
    bool parses;
    std::optional<std::string> cron, enabled;
    std::optional<std::int32_t> retryAfter, retryCount;
    std::vector<std::string> messages;
  } cases[] = {
      {"<Task><Schedule><Cron> 0  2 * * 1-5 </Cron></Schedule><Enabled>false</Enabled>"
       "<RetryAfterSeconds>300s</RetryAfterSeconds><RetryCount>3</RetryCount></Task>",
       true, "0 2 * * 1-5", "false", 300, 3, {}},
      {"<Task><Enabled> false</Enabled><RetryCount>x</RetryCount></Task>",
       true, {}, " false", {}, 0, {}},
      {"<Task><Cron>* * * * *</Cron><Schedule><Colour/></Schedule></Task>",
       true, {}, {}, {}, {}, {"Unknown node: Cron\n", "Unknown node: Colour\n"}},
      {"<Task><Name>N</Name><Schedule><Cron>0 24 * * *</Cron><Every/></Schedule></Task>",
       false, {}, {}, {}, {}, {"Unknown node: Every\n",
                               "Invalid Cron schedule in job.xml: hour: '24' is out of range 0-23"}},
      {"<Task><Schedule><Cron/></Schedule></Task>", false, {}, {}, {}, {},
       {"Invalid Cron schedule in job.xml: expected 5 fields (minute hour day-of-month month "
        "day-of-week), found 0"}},
      // The last one given wins, also over one that does not parse.
      {"<Task><Schedule><Cron>bad</Cron><Cron>5 * * * *</Cron></Schedule></Task>",
       true, "5 * * * *", {}, {}, {}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> messages;
    const std::optional<TaskDefinition> definition = Parse(c.text, messages);
    EXPECT_EQ(messages, c.messages) << c.text;
    ASSERT_EQ(definition.has_value(), c.parses) << c.text;
    if (!definition) continue;
    EXPECT_EQ(definition->cron ? std::optional(definition->cron->Text()) : std::nullopt, c.cron)
        << c.text;
    EXPECT_EQ(definition->enabled, c.enabled) << c.text;
    EXPECT_EQ(definition->retryAfterSeconds, c.retryAfter) << c.text;
    EXPECT_EQ(definition->retryCount, c.retryCount) << c.text;
  }
}

}  // namespace
}  // namespace hvs
