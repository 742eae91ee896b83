// "/tasks" and "/validate" on a scratch program directory and the real registry.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "service/admin_verbs.h"
#include "tests/support/fake_clock.h"
#include "tests/support/registry_tree.h"
#include "tests/support/registry_values.h"
#include "tests/support/test_env.h"

namespace hvs {
namespace {

const std::string kSorvane = "SOFTWARE\\Sorvane";
const std::string kProgramKey = "SOFTWARE\\Sorvane\\HVS";
const std::string kDatabaseKey = "SOFTWARE\\Sorvane\\Meridel Server\\Database";
constexpr const char* kSecret = "s3cret!pw";

std::vector<std::string> Args(std::vector<std::string> words) {
  words.insert(words.begin(), "ZAVPluginService");
  return words;
}

// Every key and value below `path`, as text, so that two snapshots compare.
void Dump(const std::string& path, std::string& text) {
  platform::RegistryKey key;
  if (platform::RegistryKey::LocalMachine().Open(path, platform::kKeyRead, key) != 0) return;
  text += "[" + path + "]\n";
  std::vector<std::string> names;
  key.ListValues(names);
  for (const std::string& name : names) {
    std::string bytes;
    testsupport::ReadRawValue(path, name, bytes);
    text += name + "=" + bytes + "\n";
  }
  names.clear();
  key.ListSubkeys(names);
  for (const std::string& name : names) Dump(path + "\\" + name, text);
}

std::string RegistrySnapshot() {
  std::string text;
  Dump(kSorvane, text);
  return text;
}

class AdminVerbsTest : public ::testing::Test {
 protected:
  AdminVerbsTest() {
    testsupport::DeleteRegistryTree(kSorvane);
    platform::CreateDirectory(Config());
  }
  ~AdminVerbsTest() override { testsupport::DeleteRegistryTree(kSorvane); }

  std::string Config() const { return program / "Config"; }
  void Write(const std::string& name, const std::string& content) {
    testsupport::WriteFile(platform::JoinPath(Config(), name), content);
  }
  int Tasks() { return ListTasks(program.path(), out, err, clock); }
  int Validate(const std::vector<std::string>& files = {}) {
    return ValidateTaskFiles(program.path(), files, out, err);
  }
  bool Shows(const std::string& text) const { return out.str().find(text) != std::string::npos; }

  testsupport::TempDirectory program;
  testsupport::FakeClock clock{1'700'000'000};
  std::ostringstream out;
  std::ostringstream err;
};

TEST(AdminCommandTest, OwnVerbsFollowTheFrameworksSwitchRules) {
  using Verb = AdminCommand::Verb;
  const struct {
    std::vector<std::string> words;
    Verb verb;
    std::vector<std::string> files;
    bool silent;
  } cases[] = {
      {{"/tasks"}, Verb::kTasks, {}, false},
      {{"-TASKS"}, Verb::kTasks, {}, false},
      {{"tasks"}, Verb::kNone, {"tasks"}, false},  // a word without "/" or "-" is no switch
      {{"/tasksnow"}, Verb::kNone, {"/tasksnow"}, false},
      {{"--tasks"}, Verb::kNone, {"--tasks"}, false},
      {{"/Validate", "a.xml", "C:\\x\\b.xml"}, Verb::kValidate, {"a.xml", "C:\\x\\b.xml"}, false},
      {{"/RUN", "Nightly backup"}, Verb::kRun, {"Nightly backup"}, false},
      {{"-validate", "/etc/hvs/c.xml", "/silent"}, Verb::kValidate, {"/etc/hvs/c.xml"}, true},
      {{"/validate", "/T:5000", "/P:pw", "/auto"}, Verb::kValidate, {}, false},
      {{"/tasks", "/stop"}, Verb::kNone, {}, false},  // the last verb wins
      {{"/stop", "/tasks"}, Verb::kTasks, {}, false},
      {{"/validate", "/console"}, Verb::kNone, {}, false},
      {{"/install"}, Verb::kNone, {}, false},
      {{}, Verb::kNone, {}, false},
  };
  for (const auto& c : cases) {
    const AdminCommand command = ParseAdminCommand(Args(c.words));
    const std::string words = ::testing::PrintToString(c.words);
    EXPECT_EQ(command.verb, c.verb) << words;
    EXPECT_EQ(command.files, c.files) << words;
    EXPECT_EQ(command.silent, c.silent) << words;
  }
}

TEST_F(AdminVerbsTest, ValidateReportsWhatTheLoaderSaysAboutEachFile) {
  const struct {
    const char* content;
    bool loads;
    std::vector<std::string> lines;
  } cases[] = {
      {"<Task><Name>Fine</Name><Command>tool.exe</Command>"
       "<Schedule><WaitPeriodSeconds>60</WaitPeriodSeconds></Schedule></Task>",
       true, {}},
      {"<Task><Name>Odd</Name><Command>tool.exe %DATABASEDSN% %NOPE% %NOPE%</Command><Colour/>"
       "<Schedule><WaitPeriodSeconds>60</WaitPeriodSeconds><Hour/></Schedule></Task>",
       true,
       {"  Unknown node: Colour", "  Unknown node: Hour",
        "  Variable NOPE not defined for substitution"}},
      {"<Task><Name>Idle</Name><Command>tool.exe</Command></Task>", true,
       {"  WaitPeriodSeconds is missing: the task is due at every tick"}},
      {"<Task><Command>tool.exe</Command><Schedule><WaitPeriodSeconds>-5</WaitPeriodSeconds>"
       "</Schedule></Task>",
       true,
       {"  WaitPeriodSeconds is -5, not positive: the task is due at every tick",
        "  Name is missing or empty: the task's values sit in the program's own key"}},
      {"<Task><Name>Open</Name><Command>tool.exe</Command><TimeLimitSeconds>0</TimeLimitSeconds>"
       "<Schedule><WaitPeriodSeconds>60</WaitPeriodSeconds></Schedule></Task>",
       true,
       {"  TimeLimitSeconds is 0, not positive: the task's runs have no time limit"}},
      // The smallest period is a period given, not a missing one.
      {"<Task><Name>Low</Name><Command>tool.exe</Command><Schedule>"
       "<WaitPeriodSeconds>-2147483648</WaitPeriodSeconds></Schedule></Task>",
       true,
       {"  WaitPeriodSeconds is -2147483648, not positive: the task is due at every tick"}},
      {"<Task><Name>Cut</Name><Command>tool.exe", false,
       {"  Couldn't parse " + platform::JoinPath(Config(), "case.xml") +
        ": unexpected end of data at byte 39."}},  // the end of the file
      {"<?xml version=\"1.0\"?><!-- nothing -->", false, {"  the file holds no XML element"}},
  };
  for (const auto& c : cases) {
    Write("case.xml", c.content);
    out.str("");
    const int code = Validate();
    EXPECT_EQ(code, c.loads ? 0 : kValidateFailed) << c.content;
    std::string expected = std::string("case.xml: ") + (c.loads ? "loads" : "does not load") + "\n";
    for (const std::string& line : c.lines) expected += line + "\n";
    expected += std::string("Files checked: 1; loading: ") + (c.loads ? "1" : "0") +
                "; not loading: " + (c.loads ? "0" : "1") + "\n";
    EXPECT_EQ(out.str(), expected) << c.content;
  }
  EXPECT_EQ(err.str(), "");
}

// The elements of calendar schedules, retries and switching off, each value checked.
TEST_F(AdminVerbsTest, ValidateChecksCronEnabledAndRetries) {
  const char* task = "<Task><Name>T</Name><Command>tool.exe</Command>";
  const char* period = "<Schedule><WaitPeriodSeconds>60</WaitPeriodSeconds></Schedule>";
  const struct {
    std::string content;
    bool loads;
    std::vector<std::string> lines;
  } cases[] = {
      {std::string(task) + "<Schedule><Cron>0 0 31 2 *</Cron>"
       "<WaitPeriodSeconds>60</WaitPeriodSeconds></Schedule></Task>",
       true,
       {"  WaitPeriodSeconds is ignored: the Cron schedule decides when the task starts",
        "  Cron 0 0 31 2 *: at 00:00 on day 31 of the month in February",
        "  The Cron schedule never starts the task: no day in the next nine years matches"}},
      {std::string(task) + "<Schedule><Cron>0 2 * * 1-8</Cron></Schedule></Task>", false,
       {"  Invalid Cron schedule in " + platform::JoinPath(Config(), "case.xml") +
        ": day of week: '8' is out of range 0-7"}},
      {std::string(task) + "<Enabled>false</Enabled>" + period + "</Task>", true,
       {"  Enabled is false: the task never starts"}},
      {std::string(task) + "<Enabled>true</Enabled>" + period + "</Task>", true, {}},
      {std::string(task) + "<Enabled>no</Enabled>" + period + "</Task>", true,
       {"  Enabled is \"no\": only \"false\" switches the task off, so it is enabled"}},
      {std::string(task) + "<RetryCount>2</RetryCount><RetryAfterSeconds>60</RetryAfterSeconds>" +
           period + "</Task>",
       true, {}},
      {std::string(task) + "<RetryCount>2</RetryCount>" + period + "</Task>", true,
       {"  RetryAfterSeconds is missing: a failed run is retried at the next tick"}},
      {std::string(task) + "<RetryCount>2</RetryCount><RetryAfterSeconds>-1</RetryAfterSeconds>" +
           period + "</Task>",
       true, {"  RetryAfterSeconds is -1, not positive: a failed run is retried at the next tick"}},
      {std::string(task) + "<RetryAfterSeconds>60</RetryAfterSeconds>" + period + "</Task>", true,
       {"  RetryCount is missing: a failed run is not retried"}},
      {std::string(task) + "<RetryCount>0</RetryCount><RetryAfterSeconds>60</RetryAfterSeconds>" +
           period + "</Task>",
       true, {"  RetryCount is 0, not positive: a failed run is not retried"}},
  };
  for (const auto& c : cases) {
    Write("case.xml", c.content);
    out.str("");
    EXPECT_EQ(Validate(), c.loads ? 0 : kValidateFailed) << c.content;
    std::string expected = std::string("case.xml: ") + (c.loads ? "loads" : "does not load") + "\n";
    for (const std::string& line : c.lines) expected += line + "\n";
    expected += std::string("Files checked: 1; loading: ") + (c.loads ? "1" : "0") +
                "; not loading: " + (c.loads ? "0" : "1") + "\n";
    EXPECT_EQ(out.str(), expected) << c.content;
  }
}

// The next five starts of "at 02:00 on weekdays" after the clock's now, in local time.
TEST_F(AdminVerbsTest, ValidatePrintsTheNextFiveStartsOfACronSchedule) {
  Write("night.xml", "<Task><Name>Night</Name><Command>tool.exe</Command>"
                     "<Schedule><Cron>0 2 * * mon-fri</Cron></Schedule></Task>");
  ASSERT_EQ(ValidateTaskFiles(program.path(), {}, out, err, clock), 0);
  const std::string head = "night.xml: loads\n  Cron 0 2 * * mon-fri: at 02:00 on Monday to Friday\n"
                           "  Next starts (local time):\n";
  ASSERT_EQ(out.str().find(head), 0u) << out.str();
  std::istringstream lines(out.str().substr(head.size()));
  std::string line, previous;
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(std::getline(lines, line));
    // "    Wed 2023-11-15 02:00": a weekday, later than the one before.
    ASSERT_EQ(line.size(), 24u) << line;
    EXPECT_NE(std::string("Mon Tue Wed Thu Fri").find(line.substr(4, 3)), std::string::npos) << line;
    EXPECT_EQ(line.substr(19), "02:00") << line;
    EXPECT_GT(line.substr(8, 10), previous) << line;
    previous = line.substr(8, 10);
  }
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line, "Files checked: 1; loading: 1; not loading: 0");
}

TEST_F(AdminVerbsTest, TasksShowsACronScheduleInWordsAndADisabledTaskAsSuch) {
  Write("a.xml", "<Task><Name>Night</Name><Command>tool.exe</Command><RetryCount>3</RetryCount>"
                 "<RetryAfterSeconds>300</RetryAfterSeconds>"
                 "<Schedule><Cron>0 2 * * 1-5</Cron></Schedule></Task>");
  Write("b.xml", "<Task><Name>Off</Name><Command>tool.exe</Command><Enabled>false</Enabled>"
                 "<Schedule><WaitPeriodSeconds>60</WaitPeriodSeconds></Schedule></Task>");
  testsupport::PutString(kProgramKey + "\\Off", "LastRun", "1234");
  ASSERT_EQ(Tasks(), 0);
  EXPECT_TRUE(Shows("\na.xml\n  Name:       Night\n  Loads:      yes\n"
                    "  Schedule:   at 02:00 on Monday to Friday (Cron 0 2 * * 1-5)\n"
                    "  Retries:    up to 3, 5 min after a failed run\n"
                    "  Last run:   never\n  Next due:   2"))
      << out.str();
  EXPECT_TRUE(Shows("\nb.xml\n  Name:       Off\n  Loads:      yes\n  Period:     60 seconds\n"
                    "  Enabled:    no: the task never starts\n"))
      << out.str();
  EXPECT_TRUE(Shows("  Next due:   never: the task is disabled\n")) << out.str();
}

TEST_F(AdminVerbsTest, ValidateTakesNamedFilesAndFailsWhenAnyDoesNotLoad) {
  Write("good.xml", "<T><Name>G</Name><Command>a.exe</Command><Schedule>"
                    "<WaitPeriodSeconds>9</WaitPeriodSeconds></Schedule></T>");
  Write("bad.xml", "<T><Name>B</Name>");  // not a file the default run would see alone
  const std::string good = platform::JoinPath(Config(), "good.xml");
  const std::string missing = program / "missing.xml";
  EXPECT_EQ(Validate({good}), 0);
  EXPECT_TRUE(Shows(good + ": loads\n"));
  EXPECT_EQ(Validate({good, missing}), kValidateFailed);
  EXPECT_TRUE(Shows(missing + ": does not load\n  Couldn't open " + missing + " for read.\n"));
  EXPECT_TRUE(Shows("Files checked: 2; loading: 1; not loading: 1\n"));
  out.str("");
  EXPECT_EQ(Validate(), kValidateFailed);  // all of Config, in the catalogue's order
  EXPECT_EQ(out.str().find("bad.xml: does not load"), 0u);
  EXPECT_TRUE(Shows("\ngood.xml: loads\n"));
}

TEST_F(AdminVerbsTest, TasksShowsEachFileAsTheServiceWouldRunIt) {
  testsupport::PutString(kDatabaseKey, "Password", kSecret);
  testsupport::PutString(kProgramKey + "\\Nightly", "LastRun", std::to_string(clock.Now() - 30));
  Write("a.xml", "<Task><Name>Nightly</Name><Command>tool.exe -p %DATABASEPASSWORD%</Command>"
                 "<ForceKill>true</ForceKill>"
                 "<Schedule><WaitPeriodSeconds>3600</WaitPeriodSeconds></Schedule></Task>");
  // Its command is this test program's own name, which runs now; no .exe or .bat name
  // is in it on POSIX, so there the whole command is what is looked for.
  const std::string self = platform::ProgramPath().substr(
      platform::ProgramPath().rfind(platform::PathSeparator()) + 1);
  Write("b.xml", "<Task><Name>Self</Name><Command>" + self +
                     "</Command><Schedule><WaitPeriodSeconds>0</WaitPeriodSeconds></Schedule></Task>");
  Write("c.xml", "<Task><Name>Hidden</Name><Command>my-tool %DATABASEPASSWORD%</Command></Task>");
  Write("d.xml", "<Task><Name>Broken</Name");

  ASSERT_EQ(Tasks(), 0);
  EXPECT_TRUE(Shows("Task files in " + Config() + " (times are local):\n"));
  EXPECT_TRUE(Shows("\na.xml\n  Name:       Nightly\n  Loads:      yes\n"
                    "  Period:     3600 seconds\n"));
  const std::string first = out.str().substr(0, out.str().find("\nb.xml\n"));
  EXPECT_EQ(first.find("  Last run:   never"), std::string::npos) << first;
  EXPECT_TRUE(Shows("  ForceKill:  true\n  Running:    no (tool.exe)\n"));
  EXPECT_TRUE(Shows("\nb.xml\n  Name:       Self\n"));
  EXPECT_TRUE(Shows("  Period:     0 seconds\n  Last run:   never\n  Next due:   now\n"
                    "  ForceKill:  false\n  Running:    yes"));
  EXPECT_TRUE(Shows("\nc.xml\n  Name:       Hidden\n"));
  EXPECT_TRUE(Shows("\nd.xml\n  Loads:      no: Couldn't parse "));
  EXPECT_FALSE(Shows(kSecret)) << out.str();
  EXPECT_EQ(err.str(), "");
}

// A name that holds a line end and an escape sequence keeps to its line on the console.
TEST_F(AdminVerbsTest, TasksShowsControlCharactersOfANameEscaped) {
  Write("ctl.xml", "<Task><Name>x&#13;&#10;Loads: yes&#27;[2J</Name><Command>a.exe</Command></Task>");
  ASSERT_EQ(Tasks(), 0);
  EXPECT_TRUE(Shows("\nctl.xml\n  Name:       x\\r\\nLoads: yes\\x1b[2J\n  Loads:      yes\n"))
      << out.str();
}

// The output file shows once a run has left one; the listing makes none.
TEST_F(AdminVerbsTest, TasksNamesTheOutputFileWithItsSizeOnceThereIsOne) {
  const char* schedule = "<Schedule><WaitPeriodSeconds>60</WaitPeriodSeconds></Schedule>";
  Write("Ran.XML", std::string("<Task><Name>Ran</Name><Command>a.exe</Command>") + schedule +
                       "</Task>");
  Write("idle.xml", std::string("<Task><Name>Idle</Name><Command>b.exe</Command>") + schedule +
                        "</Task>");
  const std::string outputs = platform::JoinPath(program / "Logs", "Output");
  platform::CreateDirectory(program / "Logs");
  platform::CreateDirectory(outputs);
  testsupport::WriteFile(platform::JoinPath(outputs, "Ran.log"), "12345");
  ASSERT_EQ(Tasks(), 0);
  EXPECT_TRUE(Shows("\nRan.XML\n")) << out.str();
  EXPECT_TRUE(Shows("  Output:     " + platform::JoinPath(outputs, "Ran.log") + " (5 bytes)\n"))
      << out.str();
  EXPECT_EQ(out.str().find("Output:", out.str().find("\nidle.xml\n")), std::string::npos);
  EXPECT_FALSE(testsupport::FileExists(platform::JoinPath(outputs, "idle.log")));
}

TEST_F(AdminVerbsTest, NextDueIsTheFirstSecondAfterThePeriod) {
  Write("a.xml", "<Task><Name>Hourly</Name><Command>tool.exe</Command>"
                 "<Schedule><WaitPeriodSeconds>3600</WaitPeriodSeconds></Schedule></Task>");
  const std::int64_t lastRun = clock.Now() - 60;
  testsupport::PutString(kProgramKey + "\\Hourly", "LastRun", std::to_string(lastRun));
  ASSERT_EQ(Tasks(), 0);
  std::istringstream lines(out.str());
  std::string line, lastRunLine, nextDueLine;
  while (std::getline(lines, line)) {
    if (line.starts_with("  Last run:")) lastRunLine = line;
    if (line.starts_with("  Next due:")) nextDueLine = line;
  }
  // Both in local time, "YYYY-MM-DD HH:MM:SS": the due time is 3601 s on, 01:00:01 later
  // in any zone without a change of offset in between.
  ASSERT_EQ(lastRunLine.size(), 33u) << lastRunLine;
  ASSERT_EQ(nextDueLine.size(), 33u) << nextDueLine;
  const auto seconds = [](const std::string& text) {
    return std::stoi(text.substr(25, 2)) * 3600 + std::stoi(text.substr(28, 2)) * 60 +
           std::stoi(text.substr(31, 2));
  };
  EXPECT_EQ((seconds(nextDueLine) - seconds(lastRunLine) + 86400) % 86400, 3601);
}

// The time limit shows where there is one (the file's, else the service's), the last result
// where the service recorded one.
TEST_F(AdminVerbsTest, TasksShowsTheTimeLimitAndTheLastResultWhereThereAreAny) {
  testsupport::PutString(kProgramKey, "TaskTimeLimit", "3600");
  testsupport::PutString(kProgramKey + "\\Own", "LastResult", "exit code 3");
  testsupport::PutString(kProgramKey + "\\Own", "LastDuration", "200");
  testsupport::PutString(kProgramKey + "\\Open", "LastResult", "time limit");
  const char* schedule = "<Schedule><WaitPeriodSeconds>60</WaitPeriodSeconds></Schedule>";
  Write("a.xml", std::string("<Task><Name>Own</Name><Command>a.exe</Command>") +
                     "<TimeLimitSeconds>90</TimeLimitSeconds>" + schedule + "</Task>");
  Write("b.xml", std::string("<Task><Name>Default</Name><Command>b.exe</Command>") + schedule +
                     "</Task>");
  Write("c.xml", std::string("<Task><Name>Open</Name><Command>c.exe</Command>") +
                     "<TimeLimitSeconds>0</TimeLimitSeconds>" + schedule + "</Task>");
  // Its command is this test program's own name, which runs now, since its last start.
  const std::string self = platform::ProgramPath().substr(
      platform::ProgramPath().rfind(platform::PathSeparator()) + 1);
  Write("d.xml", "<Task><Name>Self</Name><Command>" + self + "</Command>" + schedule + "</Task>");
  testsupport::PutString(kProgramKey + "\\Self", "LastRun", std::to_string(clock.Now() - 200));
  ASSERT_EQ(Tasks(), 0);
  const std::string text = out.str();
  const auto block = [&](const char* file) {
    const std::size_t start = text.find(std::string("\n") + file + "\n");
    return text.substr(start, text.find("\n\n", start + 1) - start);
  };
  EXPECT_NE(block("a.xml").find("  Period:     60 seconds\n  Time limit: 1 min 30 s\n  Last run:"),
            std::string::npos) << text;
  EXPECT_NE(block("a.xml").find("  Result:     exit code 3 after 3 min 20 s\n"), std::string::npos);
  EXPECT_NE(block("b.xml").find("  Time limit: 1 h\n"), std::string::npos) << text;
  EXPECT_EQ(block("b.xml").find("Result:"), std::string::npos) << text;
  EXPECT_EQ(block("c.xml").find("Time limit:"), std::string::npos) << text;
  EXPECT_NE(block("c.xml").find("  Result:     time limit\n"), std::string::npos) << text;
  EXPECT_NE(block("d.xml").find("  Running:    yes, for 3 min 20 s since its last start"),
            std::string::npos) << text;
  EXPECT_TRUE(block("a.xml").ends_with("\n  Running:    no")) << text;
}

// A stored LastRun may be any 64-bit number; the next due time saturates as the due test does.
TEST_F(AdminVerbsTest, NextDueFollowsTheServicesDueTestAtTheEdgesOfTime) {
  Write("a.xml", "<Task><Name>Far</Name><Command>tool.exe</Command>"
                 "<Schedule><WaitPeriodSeconds>60</WaitPeriodSeconds></Schedule></Task>");
  const struct {
    const char* lastRun;
    const char* nextDue;
  } cases[] = {{"9223372036854775800", "never"}, {"-9223372036854775800", "now"}};
  for (const auto& c : cases) {
    testsupport::PutString(kProgramKey + "\\Far", "LastRun", c.lastRun);
    out.str("");
    ASSERT_EQ(Tasks(), 0);
    EXPECT_TRUE(Shows(std::string("  Next due:   ") + c.nextDue + "\n")) << out.str();
  }
}

TEST_F(AdminVerbsTest, TheVerbsChangeNothing) {
  Write("job.xml", "<Task><Name>Job</Name><Command>tool.exe %SOAPURL% %NOPE%</Command>"
                   "<Schedule><WaitPeriodSeconds>60</WaitPeriodSeconds></Schedule></Task>");
  Write("broken.xml", "<Task>");
  // Once with no key of the program at all, once with the keys a service run leaves.
  for (const bool serviceHasRun : {false, true}) {
    if (serviceHasRun) {
      testsupport::PutString(kProgramKey, "LoadTaskInterval", "60");
      testsupport::PutString(kProgramKey + "\\Other", "LastRun", "100");
    }
    const std::string before = RegistrySnapshot();
    std::vector<platform::FileEntry> configBefore, configAfter, logs;
    platform::FindFiles(platform::JoinPath(Config(), "*"), configBefore);

    EXPECT_EQ(Tasks(), 0);
    EXPECT_EQ(Validate(), kValidateFailed);

    EXPECT_EQ(RegistrySnapshot(), before);
    EXPECT_FALSE(testsupport::KeyExists(kProgramKey + "\\Job"));
    EXPECT_FALSE(testsupport::KeyExists("SOFTWARE\\Sorvane\\Meridel Server\\ZAVReports"));
    EXPECT_EQ(platform::FindFiles(program / "*", logs), 0u);
    ASSERT_EQ(logs.size(), 1u) << "only Config: no Logs, no HVS.Log";
    platform::FindFiles(platform::JoinPath(Config(), "*"), configAfter);
    ASSERT_EQ(configAfter.size(), configBefore.size());
    for (std::size_t i = 0; i < configAfter.size(); ++i)
      EXPECT_EQ(configAfter[i].lastWriteTime, configBefore[i].lastWriteTime);
  }
}

TEST_F(AdminVerbsTest, ConfigThatCannotBeSearchedIsTheVerbsOwnFailure) {
  const testsupport::TempDirectory bare;  // no Config in it
  std::ostringstream bareOut, bareErr;
  for (const bool validate : {false, true}) {
    const int code = validate ? ValidateTaskFiles(bare.path(), {}, bareOut, bareErr)
                              : ListTasks(bare.path(), bareOut, bareErr);
    EXPECT_TRUE(code == 2 || code == 3) << code;
  }
  EXPECT_EQ(bareOut.str(), "");
  EXPECT_FALSE(testsupport::FileExists(bare / "Config"));  // nothing is created for it
  EXPECT_FALSE(testsupport::FileExists(bare / "Logs"));
  EXPECT_EQ(bareErr.str().find("Cannot search " + bare / "Config" + " for task files: error "), 0u)
      << bareErr.str();

  EXPECT_EQ(Tasks(), 0);  // an empty Config is no failure
  EXPECT_EQ(Validate(), 0);
  EXPECT_EQ(out.str(), "No task files in " + Config() + ".\nNo task files in " + Config() + ".\n");
}

}  // namespace
}  // namespace hvs
