// What a run printed: masked piece by piece, kept within its bound, and logged when it failed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "tasks/output_masker.h"
#include "tasks/run_output.h"
#include "tasks/task.h"
#include "tests/support/registry_values.h"
#include "tests/support/test_env.h"
#include "tests/tasks/task_fixture.h"

namespace hvs::tasktest {
namespace {

const std::string kDatabaseKey = "SOFTWARE\\Sorvane\\Meridel Server\\Database";

std::string Masked(const std::vector<Replacement>& secrets,
                   const std::vector<std::string_view>& pieces) {
  return OutputMasker::Mask(secrets, pieces);
}

std::string WithoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

TEST(OutputMaskerTest, HidesEverySecretWhereverThePiecesAreCut) {
  const std::vector<Replacement> secrets = {
      {"s3cret!", "*****"}, {"http://sa:s3cret!@db", "http://sa:*****@db"}, {"ab", "#"}, {"", "?"}};
  const struct {
    std::string text;
    std::string masked;
  } cases[] = {
      {"pw s3cret! end", "pw ***** end"},
      {"s3crets3cret!s3cret!", "s3cret**********"},  // a false start, then two in a row
      {"url http://sa:s3cret!@db/x", "url http://sa:*****@db/x"},
      {"aab", "a#"},
      {"s3cre", "s3cre"},  // a secret's start at the very end is no secret
      {"", ""},
  };
  for (const auto& c : cases) {
    const std::string_view text = c.text;
    for (std::size_t cut = 0; cut <= text.size(); ++cut)
      EXPECT_EQ(Masked(secrets, {text.substr(0, cut), text.substr(cut)}), c.masked)
          << c.text << " cut at " << cut;
    std::vector<std::string_view> bytes;
    for (std::size_t i = 0; i < text.size(); ++i) bytes.push_back(text.substr(i, 1));
    EXPECT_EQ(Masked(secrets, bytes), c.masked) << c.text << " one byte at a time";
  }
  EXPECT_EQ(Masked({}, {"as ", "is"}), "as is");
}

// A piece that ends in a whole secret which also begins a longer one must wait for the next.
TEST(OutputMaskerTest, ALongerSecretWinsOverItsBeginningWhereverThePiecesAreCut) {
  const std::vector<Replacement> secrets = {{"pass", "*****"}, {"password1", "#####"}};
  const std::string_view text = "a password1 pass passw";
  const std::string masked = "a ##### ***** *****w";
  for (std::size_t cut = 0; cut <= text.size(); ++cut)
    EXPECT_EQ(Masked(secrets, {text.substr(0, cut), text.substr(cut)}), masked) << "cut at " << cut;
  std::vector<std::string_view> bytes;
  for (std::size_t i = 0; i < text.size(); ++i) bytes.push_back(text.substr(i, 1));
  EXPECT_EQ(Masked(secrets, bytes), masked) << "one byte at a time";
}

TEST(RunOutputTest, OutputFileNamesFollowTheTaskFile) {
  const std::pair<const char*, const char*> names[] = {
      {"Backup.xml", "Backup.log"}, {"b.XML", "b.log"}, {"x.xml.xml", "x.xml.log"}, {"plain", "plain.log"}};
  for (const auto& [file, output] : names) EXPECT_EQ(OutputFileName(file), output);
}

// Past kKeptBytes the file holds the first and the last half, and a line with the count of
// the bytes between them, however the pieces came.
TEST(RunOutputTest, KeepsTheFirstAndLastHalfMebibyteWithTheCountOfWhatWasLeftOut) {
  testsupport::TempDirectory directory;
  const std::size_t sizes[] = {0, 1000, RunOutput::kKeptBytes, RunOutput::kKeptBytes + 1,
                               3 * RunOutput::kKeptBytes + 5};
  const std::size_t pieceSizes[] = {65536, 7777, RunOutput::kKeptBytes + 3};
  for (const std::size_t size : sizes) {
    std::string data(size, ' ');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>('a' + (i * 7) % 26);
    std::string expected = data;
    if (size > RunOutput::kKeptBytes)
      expected = data.substr(0, RunOutput::kHeadBytes) + "\n[... " +
                 std::to_string(size - RunOutput::kKeptBytes) + " bytes left out ...]\n" +
                 data.substr(size - RunOutput::kTailBytes);
    for (const std::size_t pieceSize : pieceSizes) {
      const std::string path = platform::JoinPath(directory / "Output", "t.log");
      RunOutput output(path, OutputMasker({}));
      for (std::size_t at = 0; at < size; at += pieceSize)
        output.Take(std::string_view(data).substr(at, pieceSize));
      output.Finish();
      EXPECT_EQ(output.error(), platform::kSuccess);
      const std::string kept = testsupport::ReadFile(path);
      EXPECT_EQ(kept.size(), expected.size()) << size << " in pieces of " << pieceSize;
      EXPECT_TRUE(kept == expected) << size << " in pieces of " << pieceSize;
    }
  }
}

TEST(RunOutputTest, LastLinesAreTheFiveLastCutAtTwoHundredBytesWithoutSplittingACharacter) {
  using Lines = std::vector<std::string>;
  const std::string z199(199, 'z');
  const struct {
    std::string text;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"a\nb\n", {"a", "b"}},
      {"1\n2\n3\n4\n5\n6\n7", {"3", "4", "5", "6", "7"}},
      {"x\r\ny\r\n\n", {"x", "y", ""}},
      {std::string(300, 'z') + "\nend", {std::string(200, 'z'), "end"}},
      {z199 + "\xC3\xA9 more", {z199}},
      {z199 + "a\xC3\xA9", {z199 + "a"}},
  };
  testsupport::TempDirectory directory;
  for (const auto& c : cases) {
    for (const std::size_t pieceSize : {std::size_t{1}, std::size_t{4096}}) {
      RunOutput output(directory / "t.log", OutputMasker({}));
      for (std::size_t at = 0; at < c.text.size(); at += pieceSize)
        output.Take(std::string_view(c.text).substr(at, pieceSize));
      output.Finish();
      EXPECT_EQ(output.LastLines(), c.lines) << c.text.substr(0, 40) << " / " << pieceSize;
    }
  }
}

class RunOutputTaskTest : public TaskFixture {
 protected:
  std::string OutputOf(const Task& task) const {
    return WithoutCarriageReturns(testsupport::ReadFile(task.OutputPath()));
  }
};

// The password is masked in the file and the log, whether the command shows it or not, and
// written one byte at a time; each run replaces the last one's file.
TEST_F(RunOutputTaskTest, EachRunKeepsWhatItWroteMaskedAndAFailedRunLogsItsLastLines) {
  testsupport::PutString(kDatabaseKey, "Password", "s3cret!");
  const struct {
    const char* kind;
    const char* showFullCommand;
    std::string says;
    std::vector<std::string> outputLines;
  } runs[] = {
      {"talk", "0", "connecting with s3cret!\n100% failed: refused\x1b[2J\n",
       {"Task 'Talk' output: connecting with *****",
        "Task 'Talk' output: 100%% failed: refused\\x1b[2J"}},
      {"talk", "1", "again s3cret!", {"Task 'Talk' output: again *****"}},
      {"talk0", "0", "fine s3cret!\n", {}},
  };
  for (const auto& run : runs) {
    const std::string path = NewProgram(run.kind);
    Says(path, run.says);
    auto task = NewTask("Talk", CommandFor(path, "-p %DATABASEPASSWORD%"));
    testsupport::PutString("SOFTWARE\\Sorvane\\HVS\\Talk", "ShowFullCommand", run.showFullCommand);
    const std::size_t mark = Mark();
    task->Run();
    ASSERT_TRUE(Finished(*task)) << run.says;

    std::string masked = run.says;
    masked.replace(masked.find("s3cret!"), 7, "*****");
    EXPECT_EQ(OutputOf(*task), masked);
    std::vector<std::string> logged = Timeless(MessagesSince(mark));
    ASSERT_GE(logged.size(), 2u);
    EXPECT_EQ(logged[1], std::string("Task 'Talk' finished with exit code ") +
                             (run.kind == std::string("talk0") ? "0" : "3") + " after <t>.");
    logged.erase(logged.begin(), logged.begin() + 2);
    EXPECT_EQ(logged, run.outputLines) << run.says;
  }
}

TEST_F(RunOutputTaskTest, AHundredMebibytesEndAsTheFirstAndLastHalfMebibyte) {
  auto task = NewTask("Flood", CommandFor(NewProgram("flood")));
  task->Run();
  ASSERT_TRUE(Eventually([&] { return !task->watcher.IsRunning(); }, std::chrono::minutes(3)));
  task->RecordEndedRun();
  EXPECT_EQ(StoredValue("Flood", "LastResult").substr(0, 11), "exit code 0");
  const std::string kept = OutputOf(*task);
  const std::uint64_t total = std::uint64_t{kFloodRecords} * kFloodRecordBytes;
  const std::string gap =
      "\n[... " + std::to_string(total - RunOutput::kKeptBytes) + " bytes left out ...]\n";
  EXPECT_EQ(kept.size(), RunOutput::kKeptBytes + gap.size());
  EXPECT_TRUE(kept.starts_with("000000000;000000001;")) << kept.substr(0, 40);
  EXPECT_TRUE(kept.ends_with("010485758;010485759;")) << kept.substr(kept.size() - 40);
  EXPECT_EQ(kept.substr(RunOutput::kHeadBytes, gap.size()), gap);
}

// A process that the task started keeps the pipe open after the task's own process has
// ended (on Windows by inheritance, as cmd.exe starts programs); the run still ends with it.
TEST_F(RunOutputTaskTest, ARunEndsWithItsProcessThoughAChildItLeftBehindHoldsThePipe) {
  const std::string parent = NewProgram("parent");
  const std::string sleeper = NewProgram("sleep");
  StartsWith(parent, CommandFor(sleeper));
  auto task = NewTask("Parent", CommandFor(parent));
  task->Run();
  const std::uint32_t left = WaitForStart(sleeper);
  ASSERT_NE(left, 0u);
  EXPECT_TRUE(Finished(*task));
  EXPECT_TRUE(testsupport::ProcessIdInUse(left)) << "the child ended before the run";
  EXPECT_TRUE(EndProcess(left));
}

TEST_F(RunOutputTaskTest, AFileThatCannotBeWrittenCostsTheOutputOnceButNotTheRun) {
  const std::string path = NewProgram("talk");
  Says(path, "lost");
  auto task = NewTask("Blocked", CommandFor(path));
  // A folder where the file should be: it cannot be made.
  platform::CreateDirectory(platform::JoinPath(context->LogsDirectory(), "Output"));
  ASSERT_EQ(platform::CreateDirectory(task->OutputPath()), platform::kSuccess);
  const std::size_t mark = Mark();
  task->Run();
  ASSERT_TRUE(Finished(*task));
  EXPECT_EQ(StartsOf(path).size(), 1u);
  task->RecordEndedRun();
  EXPECT_EQ(StoredValue("Blocked", "LastResult"), "exit code 3");
  const std::vector<std::string> logged = Timeless(MessagesSince(mark));
  ASSERT_EQ(logged.size(), 4u);
  EXPECT_EQ(logged[1], "Task 'Blocked' finished with exit code 3 after <t>.");
  EXPECT_EQ(logged[2], "Task 'Blocked' output: lost");
  EXPECT_TRUE(logged[3].starts_with("Task 'Blocked' output could not be kept in " +
                                    task->OutputPath() + ": "))
      << logged[3];
}

}  // namespace
}  // namespace hvs::tasktest
