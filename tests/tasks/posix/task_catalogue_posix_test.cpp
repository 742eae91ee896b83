// The catalogue over task files that Linux deployments bring: links, FIFOs and devices.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "tasks/task_catalogue.h"
#include "tests/tasks/task_fixture.h"

namespace hvs::tasktest {
namespace {

using Messages = std::vector<std::string>;

const platform::FileTime kWritten = platform::SecondsToFileTime(kTime - 3600);

std::string TaskFile(const std::string& name) {
  return "<Task><Name>" + name + "</Name><Command>x</Command></Task>";
}

class TaskCataloguePosixTest : public TaskFixture {
 protected:
  std::string ConfigFile(const std::string& name) const {
    return platform::JoinPath(context->ConfigDirectory(), name);
  }
  Messages LoadMessages(TaskCatalogue& catalogue) {
    const std::size_t mark = Mark();
    catalogue.Reload();
    Messages loads;
    for (const std::string& message : MessagesSince(mark))
      if (!message.starts_with("Removing")) loads.push_back(message);
    return loads;
  }
};

// Configuration tools deploy task files as links and change what they lead to: the target's
// file time decides, whether the target is written anew or the link is pointed elsewhere.
TEST_F(TaskCataloguePosixTest, ALinkedTaskFileReloadsWhenItsTargetChanges) {
  const std::string first = program / "first.xml", second = program / "second.xml";
  testsupport::WriteFile(first, TaskFile("First"));
  testsupport::WriteFile(second, TaskFile("Second"));
  ASSERT_TRUE(testsupport::SetLastWriteTime(first, kWritten));
  ASSERT_TRUE(testsupport::SetLastWriteTime(second, kWritten + 20'000'000));
  std::filesystem::create_symlink(first, ConfigFile("job.xml"));
  TaskCatalogue catalogue(*context);
  catalogue.Reload();
  ASSERT_EQ(catalogue.tasks().at("job.xml")->Name, "First");

  testsupport::WriteFile(first, TaskFile("First again"));
  ASSERT_TRUE(testsupport::SetLastWriteTime(first, kWritten + 10'000'000));
  EXPECT_EQ(LoadMessages(catalogue),
            (Messages{"Loading task configuration file: job.xml", "Loaded task: First again"}));

  std::filesystem::remove(ConfigFile("job.xml"));
  std::filesystem::create_symlink(second, ConfigFile("job.xml"));
  EXPECT_EQ(LoadMessages(catalogue),
            (Messages{"Loading task configuration file: job.xml", "Loaded task: Second"}));
  EXPECT_TRUE(LoadMessages(catalogue).empty());
}

// Neither a FIFO (whose open would wait for a writer) nor a device is read; each fails to
// load with its reason, and the task beside them loads as ever.
TEST_F(TaskCataloguePosixTest, OnlyRegularFilesAreReadAndTheOtherTasksLoad) {
  testsupport::WriteFile(ConfigFile("good.xml"), TaskFile("Good"));
  ASSERT_EQ(::mkfifo(ConfigFile("fifo.xml").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", ConfigFile("zero.xml"));
  TaskCatalogue catalogue(*context);
  const Messages messages = LoadMessages(catalogue);
  for (const char* name : {"fifo.xml", "zero.xml"}) {
    const Messages refused{"Loading task configuration file: " + std::string(name),
                           "Couldn't open " + ConfigFile(name) + " for read: not a regular file.\n",
                           "Task configuration file '" + std::string(name) + "' could not load."};
    EXPECT_NE(std::search(messages.begin(), messages.end(), refused.begin(), refused.end()),
              messages.end())
        << name;
  }
  ASSERT_EQ(catalogue.tasks().size(), 1u);
  EXPECT_EQ(catalogue.tasks().at("good.xml")->Name, "Good");
}

}  // namespace
}  // namespace hvs::tasktest
