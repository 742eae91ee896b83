// Task::Load on real files in a scratch Config directory, with the real registry behind it.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "context/service_context.h"
#include "tasks/task.h"
#include "tests/support/registry_tree.h"
#include "tests/support/registry_values.h"
#include "tests/support/test_env.h"

namespace hvs {
namespace {

const std::string kProgramKey = "SOFTWARE\\Sorvane\\HVS";
const std::string kDatabaseKey = "SOFTWARE\\Sorvane\\Meridel Server\\Database";

class TaskFileTest : public ::testing::Test {
 protected:
  TaskFileTest() { testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane"); }
  ~TaskFileTest() override {
    context.reset();
    testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane");
  }

  ServiceContext& Context() {
    if (!context) context = std::make_unique<ServiceContext>(program.path(), false);
    return *context;
  }
  std::unique_ptr<Task> NewTask() { return std::make_unique<Task>(Context()); }
  std::string PathOf(const std::string& name) {
    return platform::JoinPath(Context().ConfigDirectory(), name);
  }
  void Write(const std::string& name, const std::string& content) {
    testsupport::WriteFile(PathOf(name), content);
  }
  // Loads `name` as the catalogue would: with the entry its directory search returns.
  bool Load(Task& task, const std::string& name) {
    std::vector<platform::FileEntry> entries;
    platform::FindFiles(PathOf(name), entries);
    platform::FileEntry entry;
    entry.name = name;
    if (!entries.empty()) entry = entries.front();
    return task.Load(entry, PathOf(name)).has_value();
  }
  // A new task loaded from a file holding `content`.
  std::unique_ptr<Task> LoadText(const std::string& content, bool expectLoaded = true) {
    Write("job.xml", content);
    auto task = NewTask();
    EXPECT_EQ(Load(*task, "job.xml"), expectLoaded) << content;
    return task;
  }
  static std::string InTask(const std::string& children) { return "<Task>" + children + "</Task>"; }

  std::string Raw(const std::string& key, const std::string& name) {
    std::string bytes;
    EXPECT_TRUE(testsupport::ReadRawValue(key, name, bytes)) << key << " " << name;
    return bytes;
  }

  // The log's messages in order, without their stamps; a message's own "\n" stays.
  std::vector<std::string> LogMessages() {
    return testsupport::LogMessages(platform::JoinPath(Context().LogsDirectory(), "HVS.Log"));
  }

  testsupport::TempDirectory program;
  std::unique_ptr<ServiceContext> context;
};

using Messages = std::vector<std::string>;

TEST_F(TaskFileTest, CompleteFileFillsEveryField) {
  const std::string file =
      "<?xml version=\"1.0\"?>\r\n<Task>\r\n  <Name>Example</Name>\r\n"
      "  <Command>example.exe %DATABASEDSN%</Command>\r\n  <ForceKill>true</ForceKill>\r\n"
      "  <Schedule><WaitPeriodSeconds>86400</WaitPeriodSeconds></Schedule>\r\n</Task>\r\n";
  Write("Example.xml", file);
  testsupport::SetLastWriteTime(PathOf("Example.xml"), 133'000'000'000'000'000ull);
  auto task = NewTask();
  EXPECT_FALSE(task->Loaded);
  EXPECT_FALSE(task->ForceKill);
  EXPECT_EQ(task->WaitPeriodSeconds, 0);

  EXPECT_TRUE(Load(*task, "Example.xml"));
  EXPECT_TRUE(task->Loaded);
  EXPECT_EQ(task->FileName, "Example.xml");
  EXPECT_EQ(task->FilePath, PathOf("Example.xml"));
  EXPECT_EQ(task->LastWriteTime, 133'000'000'000'000'000ull);
  EXPECT_EQ(task->Name, "Example");
  EXPECT_EQ(task->Command, "example.exe %DATABASEDSN%");
  EXPECT_EQ(task->RunCommand, "example.exe zav_svmeridel");
  EXPECT_TRUE(task->ForceKill);
  EXPECT_EQ(task->WaitPeriodSeconds, 86400);
  EXPECT_EQ(task->LastRun, 0);
  EXPECT_EQ(LogMessages(), Messages{});
}

TEST_F(TaskFileTest, ForceKillIsTrueOnlyForExactlyTrue) {
  for (const char* text : {"TRUE", "True", "1", " true", "true ", "yes", ""})
    EXPECT_FALSE(LoadText(InTask(std::string("<ForceKill>") + text + "</ForceKill>"))->ForceKill)
        << '"' << text << '"';
  EXPECT_TRUE(LoadText(InTask("<ForceKill>true</ForceKill>"))->ForceKill);
  EXPECT_TRUE(LoadText(InTask("<ForceKill>&#116;rue</ForceKill>"))->ForceKill);
}

TEST_F(TaskFileTest, WaitPeriodFollowsAtoiRulesAndSaturates) {
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"90s", 90},
      {"abc", 0},
      {"-5", -5},
      {" \t+7", 7},
      {"", 0},
      {"- 5", 0},
      {"99999999999", std::numeric_limits<std::int32_t>::max()},
      {"-99999999999", std::numeric_limits<std::int32_t>::min()}};
  for (const auto& [text, expected] : cases) {
    const std::string schedule =
        "<Schedule><WaitPeriodSeconds>" + text + "</WaitPeriodSeconds></Schedule>";
    EXPECT_EQ(LoadText(InTask(schedule))->WaitPeriodSeconds, expected) << '"' << text << '"';
  }
}

TEST_F(TaskFileTest, ValueIsTheFirstStretchOfTextWithItsWhiteSpace) {
  EXPECT_EQ(LoadText(InTask("<Command>\n    tool.exe /x\n  </Command>"))->Command,
            "\n    tool.exe /x\n  ");
  EXPECT_EQ(
      LoadText(InTask("<Command>a &lt;b&gt; &amp;&quot;&apos; &#233;&#x20AC;</Command>"))->Command,
      "a <b> &\"' \xC3\xA9\xE2\x82\xAC");
  // A comment before the text is skipped; text after a comment or child element is not taken.
  EXPECT_EQ(LoadText(InTask("<Command> <!-- old --> tool.exe <!-- x --> more</Command>"))->Command,
            " tool.exe ");
  EXPECT_EQ(LoadText(InTask("<Command>tool.exe<Option>y</Option>tail</Command>"))->Command,
            "tool.exe");
  EXPECT_EQ(LoadText(InTask("<Command><![CDATA[cdata.exe]]>text.exe</Command>"))->Command,
            "text.exe");
  EXPECT_EQ(LoadText(InTask("<Command><![CDATA[cdata.exe]]></Command>"))->Command, "");
  EXPECT_EQ(LoadText(InTask("<Command>  \n  </Command>"))->Command, "");
  EXPECT_EQ(LoadText(InTask("<Command/>"))->Command, "");
  EXPECT_EQ(LoadText(InTask("<Name>ab&#0;cd</Name>"))->Name, "ab");  // never a NUL inside a name
}

TEST_F(TaskFileTest, NamesAreExactAndTheLastOccurrenceWins) {
  auto task = LoadText(
      "<Anything a='1'><Name>first</Name><Name>second</Name><name>lower</name></Anything>");
  EXPECT_EQ(task->Name, "second");
  EXPECT_EQ(LogMessages(), Messages{"Unknown node: name\n"});
  // Closing tags are not compared with the opening ones.
  EXPECT_EQ(LoadText(InTask("<Name>x</Command>"))->Name, "x");
  // Only the first top-level element is the task.
  EXPECT_EQ(LoadText("<A><Name>one</Name></A><B><Name>two</Name></B>")->Name, "one");
}

TEST_F(TaskFileTest, ByteOrderMarkIsSkipped) {
  auto task = LoadText("\xEF\xBB\xBF<Task><Name>Marked</Name></Task>");
  EXPECT_EQ(task->Name, "Marked");
  EXPECT_EQ(LogMessages(), Messages{});
}

TEST_F(TaskFileTest, OtherNodesAreReportedAndTheLoadGoesOn) {
  auto task = LoadText(
      InTask("<Name>n</Name> stray <![CDATA[c]]><Extra><Name>inner</Name></Extra>"
             "<WaitPeriodSeconds>5</WaitPeriodSeconds>"
             "<Schedule>word<Every>3</Every><WaitPeriodSeconds>9</WaitPeriodSeconds></Schedule>"));
  EXPECT_EQ(task->Name, "n");  // children of an unknown element are not looked at
  EXPECT_EQ(task->WaitPeriodSeconds, 9);
  EXPECT_EQ(LogMessages(), (Messages{"Unknown node: \n", "Unknown node: \n",
                                     "Unknown node: Extra\n", "Unknown node: WaitPeriodSeconds\n",
                                     "Unknown node: \n", "Unknown node: Every\n"}));

  // Outside Schedule the period is only reported.
  EXPECT_EQ(LoadText(InTask("<WaitPeriodSeconds>5</WaitPeriodSeconds>"))->WaitPeriodSeconds, 0);
}

TEST_F(TaskFileTest, ReloadKeepsFieldsWhoseElementsAreGone) {
  Write("job.xml", InTask("<Name>Job</Name><Command>a.exe</Command><ForceKill>true</ForceKill>"
                          "<Schedule><WaitPeriodSeconds>30</WaitPeriodSeconds></Schedule>"));
  auto task = NewTask();
  ASSERT_TRUE(Load(*task, "job.xml"));
  Write("job.xml", InTask("<Command>b.exe</Command>"));
  ASSERT_TRUE(Load(*task, "job.xml"));
  EXPECT_EQ(task->Name, "Job");
  EXPECT_EQ(task->Command, "b.exe");
  EXPECT_EQ(task->RunCommand, "b.exe");
  EXPECT_TRUE(task->ForceKill);
  EXPECT_EQ(task->WaitPeriodSeconds, 30);
}

TEST_F(TaskFileTest, LastRunComesFromTheRegistryAtEveryLoad) {
  Write("a.xml", InTask("<Name>Shared</Name>"));
  Write("b.xml", InTask("<Name>Shared</Name>"));
  auto first = NewTask();
  ASSERT_TRUE(Load(*first, "a.xml"));
  EXPECT_EQ(first->LastRun, 0);
  EXPECT_EQ(Raw(kProgramKey + "\\Shared", "LastRun"), "0");

  testsupport::PutString(kProgramKey + "\\Shared", "LastRun", "-5");
  auto second = NewTask();
  ASSERT_TRUE(Load(*second, "b.xml"));
  EXPECT_EQ(second->LastRun, -5);  // widened with its sign

  first->LastRun = 42;  // what a run in memory would leave
  testsupport::PutString(kProgramKey + "\\Shared", "LastRun", "1700000000");
  ASSERT_TRUE(Load(*first, "a.xml"));
  EXPECT_EQ(first->LastRun, 1'700'000'000);
}

TEST_F(TaskFileTest, NulByteDropsTheRestOfItsBlock) {
  // The first 256-byte block ends in markup that would not parse; the NUL hides it.
  std::string first = "<Task><Name>ab";
  first += '\0';
  first.resize(256, '<');
  Write("zero.xml", first + "cd</Name></Task>");
  auto task = NewTask();
  ASSERT_TRUE(Load(*task, "zero.xml"));
  EXPECT_EQ(task->Name, "abcd");
}

TEST_F(TaskFileTest, FileThatCannotBeOpenedFailsAndStillReadsLastRun) {
  Write("job.xml", InTask("<Name>Kept</Name>"));
  auto task = NewTask();
  ASSERT_TRUE(Load(*task, "job.xml"));
  testsupport::PutString(kProgramKey + "\\Kept", "LastRun", "77");

  platform::RemoveFile(PathOf("job.xml"));
  EXPECT_FALSE(Load(*task, "job.xml"));
  EXPECT_FALSE(task->Loaded);
  EXPECT_EQ(task->LastRun, 77);  // under the Name of the earlier load

  ASSERT_EQ(platform::CreateDirectory(PathOf("sub.xml")), 0u);
  auto directory = NewTask();
  EXPECT_FALSE(Load(*directory, "sub.xml"));
  EXPECT_EQ(LogMessages(), (Messages{"Couldn't open " + PathOf("job.xml") + " for read.\n",
                                     "Couldn't open " + PathOf("sub.xml") + " for read.\n"}));
}

// A definition is small; a file above 1 MiB is refused unread, with its reason.
TEST_F(TaskFileTest, AFileLargerThanOneMebibyteFailsToLoadWithItsReason) {
  const std::string task = InTask("<Name>Big</Name>");
  const struct {
    std::size_t size;
    bool loads;
  } cases[] = {{1024 * 1024, true}, {1024 * 1024 + 1, false}};
  for (const auto& c : cases) {
    const std::size_t mark = LogMessages().size();
    const auto loaded = LoadText(task + std::string(c.size - task.size(), ' '), c.loads);
    const Messages logged = LogMessages();
    EXPECT_EQ(loaded->Name, c.loads ? "Big" : "") << c.size;
    EXPECT_EQ(Messages(logged.begin() + static_cast<std::ptrdiff_t>(mark), logged.end()),
              c.loads ? Messages{}
                      : Messages{"Couldn't read " + PathOf("job.xml") + ": larger than 1 MiB.\n"})
        << c.size;
  }
}

TEST_F(TaskFileTest, MalformedFileLogsWhereTheParserStopped) {
  const std::string cut = "<Task><Name>x</Name>";
  LoadText(cut, false);
  LoadText("<Task><!-- never closed </Task>", false);
  LoadText("<Task><Name>x</Name></Task", false);
  LoadText("oops<Task/>", false);
  const std::string path = PathOf("job.xml");
  EXPECT_EQ(LogMessages(),
            (Messages{"Couldn't parse " + path + ": unexpected end of data at byte 20.\n",
                      "Couldn't parse " + path + ": unexpected end of data at byte 31.\n",
                      "Couldn't parse " + path + ": expected > at byte 26.\n",
                      "Couldn't parse " + path + ": expected < at byte 0.\n"}));
}

TEST_F(TaskFileTest, DocumentWithoutAnElementFailsQuietly) {
  for (const char* text :
       {"", "  \r\n", "<?xml version=\"1.0\"?>", "<!-- nothing --><?pi x?>", "\xEF\xBB\xBF"})
    EXPECT_FALSE(LoadText(text, false)->Loaded) << '"' << text << '"';
  EXPECT_EQ(LogMessages(), Messages{});
}

TEST_F(TaskFileTest, DeepNestingFailsInsteadOfExhaustingTheStack) {
  std::string deep = "<Task>";
  for (int i = 0; i < 200000; ++i) deep += "<a>";
  auto task = LoadText(deep, false);
  EXPECT_EQ(LogMessages(), Messages{"Couldn't parse " + PathOf("job.xml") +
                                    ": elements nested too deeply at byte 771.\n"});

  std::string nested;
  for (int i = 0; i < 254; ++i) nested += "<a>";
  nested += "<Name>deep</Name>";  // the 256th level
  for (int i = 0; i < 254; ++i) nested += "</a>";
  EXPECT_TRUE(LoadText(InTask(nested))->Loaded);
}

TEST_F(TaskFileTest, CommandIsSubstitutedAtLoadWithoutRefresh) {
  testsupport::PutString(kDatabaseKey, "Password", "s3cret");
  testsupport::PutString(kDatabaseKey, "User", "sa");
  Context();  // the variables are read here
  testsupport::PutString(kDatabaseKey, "User", "changed");
  auto task =
      LoadText(InTask("<Command>tool.exe -u %DATABASEUSER% -p %DATABASEPASSWORD%</Command>"));
  EXPECT_EQ(task->Command, "tool.exe -u %DATABASEUSER% -p %DATABASEPASSWORD%");
  EXPECT_EQ(task->RunCommand, "tool.exe -u sa -p s3cret");
  EXPECT_EQ(task->DisplayCommand, "tool.exe -u sa -p *****");
}

}  // namespace
}  // namespace hvs
