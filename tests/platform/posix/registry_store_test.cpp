// The POSIX registry store: its file, paths, deleted keys, rights and several processes at once.
#include "platform/posix/registry_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/state_dir.h"
#include "platform/registry.h"
#include "tests/support/child_role.h"
#include "tests/support/test_env.h"

namespace {

namespace store = platform::posix::registry_store;
using platform::Error;
using platform::RegistryKey;

unsigned ModeOf(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error) return 0xFFFF;
  return static_cast<unsigned>(status.permissions()) & 07777;
}

Error WriteText(const RegistryKey& key, std::string_view name, const std::string& text) {
  return key.SetValue(name, platform::kRegSz, text.data(), static_cast<std::uint32_t>(text.size()));
}

std::string ReadText(const RegistryKey& key, std::string_view name) {
  char buffer[256];
  std::uint32_t size = sizeof buffer;
  if (key.QueryValue(name, nullptr, buffer, &size) != platform::kSuccess) return "<unreadable>";
  return std::string(buffer, size);
}

// A key of the test's own below HKLM; the whole test process has a private store anyway.
class RegistryStore : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::string("SOFTWARE\\HvsTest\\") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_EQ(0u, machine_.Create(path_, platform::kKeyAllAccess, key_));
  }

  RegistryKey machine_ = RegistryKey::LocalMachine();
  std::string path_;
  RegistryKey key_;
};

// Points this process's store at a fresh state directory for one test, then back.
class OtherStateDirectory {
 public:
  OtherStateDirectory() : saved_(Current()) {
    store::CloseStore();
    testsupport::SetEnv("HVS_STATE_DIR", directory_.path());
  }
  ~OtherStateDirectory() {
    store::CloseStore();
    testsupport::SetEnv("HVS_STATE_DIR", saved_);
  }
  std::string operator/(const std::string& name) const { return directory_ / name; }
  static std::string Current() {
    const char* value = std::getenv("HVS_STATE_DIR");
    return value ? value : "";
  }

 private:
  std::string saved_;
  testsupport::TempDirectory directory_;
};

TEST_F(RegistryStore, DatabaseAndItsJournalFilesAreOwnerOnly) {
  ASSERT_EQ(0u, WriteText(key_, "Password", "secret"));
  const std::string database = platform::posix::StateDirectory() + "/registry.db";
  EXPECT_EQ(0600u, ModeOf(database));
  EXPECT_EQ(0600u, ModeOf(database + "-wal"));
  EXPECT_EQ(0600u, ModeOf(database + "-shm"));
}

TEST(RegistryStoreFile, ExistingDatabaseReadableByOthersIsMadeOwnerOnly) {
  OtherStateDirectory state;
  testsupport::WriteFile(state / "registry.db", "");
  namespace fs = std::filesystem;
  fs::permissions(state / "registry.db", fs::perms::owner_read | fs::perms::owner_write |
                                             fs::perms::group_read | fs::perms::others_read);
  ASSERT_EQ(0644u, ModeOf(state / "registry.db"));
  RegistryKey key;
  ASSERT_EQ(0u,
            RegistryKey::LocalMachine().Create("SOFTWARE\\Fresh", platform::kKeyAllAccess, key));
  EXPECT_EQ(0600u, ModeOf(state / "registry.db"));
}

TEST(RegistryStoreFile, UnusableDatabaseFailsEveryCallAndRecoversOnceUsable) {
  RegistryKey machine = RegistryKey::LocalMachine();
  RegistryKey key;
  std::uint32_t size = 0;
  std::vector<std::string> names;
  {
    OtherStateDirectory state;
    ASSERT_TRUE(platform::posix::MakeDirectories(state / "registry.db", 0700));
    EXPECT_EQ(platform::kAccessDenied, machine.Create("SOFTWARE", platform::kKeyAllAccess, key));
    EXPECT_EQ(platform::kAccessDenied, machine.QueryValue("", nullptr, nullptr, &size));
    EXPECT_EQ(platform::kAccessDenied, machine.ListSubkeys(names));
    EXPECT_FALSE(key.IsOpen());
  }
  {
    OtherStateDirectory state;
    testsupport::WriteFile(state / "registry.db", std::string(4096, 'x'));
    EXPECT_EQ(platform::kRegistryIoFailed, machine.Open("SOFTWARE", platform::kKeyRead, key));
    EXPECT_EQ(platform::kRegistryIoFailed, machine.SetValue("v", platform::kRegSz, "x", 1));
    EXPECT_EQ(std::string(4096, 'x'), testsupport::ReadFile(state / "registry.db"));
  }
  EXPECT_EQ(0u, machine.Create("SOFTWARE\\HvsTest", platform::kKeyAllAccess, key));
}

// A tool that only looks makes no state directory, no registry.db and no schema; a store
// that is not there reads as an empty one, and nothing can be written through the reader.
TEST(RegistryStoreFile, ReadingOnlyCreatesNothingAndAMissingStoreReadsEmpty) {
  OtherStateDirectory state;
  const struct {
    const char* what;
    std::string directory;
  } places[] = {{"a missing state directory", state / "missing"}, {"an empty one", OtherStateDirectory::Current()}};
  for (const auto& place : places) {
    SCOPED_TRACE(place.what);
    store::CloseStore();
    testsupport::SetEnv("HVS_STATE_DIR", place.directory);
    RegistryKey reader = RegistryKey::LocalMachineForReading();
    RegistryKey key;
    std::vector<std::string> names{"x"};
    std::uint32_t size = 0;
    EXPECT_EQ(platform::kFileNotFound, reader.Open("SOFTWARE\\Sorvane\\HVS", platform::kKeyRead, key));
    EXPECT_EQ(platform::kSuccess, reader.ListSubkeys(names));
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(platform::kFileNotFound, reader.QueryValue("LastRun", nullptr, nullptr, &size));
    EXPECT_EQ(platform::kAccessDenied, reader.Create("SOFTWARE", platform::kKeyAllAccess, key));
    EXPECT_EQ(platform::kAccessDenied, reader.SetValue("v", platform::kRegSz, "x", 1));
    EXPECT_EQ(platform::kAccessDenied, reader.DeleteKey("SOFTWARE"));
    EXPECT_FALSE(testsupport::FileExists(place.directory + "/registry.db"));
    std::string why;
    EXPECT_EQ(platform::kSuccess, platform::RegistryStoreProblem(why)) << why;
  }
  EXPECT_FALSE(testsupport::FileExists(state / "missing"));
}

// Reads and writes in one process: the reader's connection gives way to one that writes,
// and a reader opens an existing store without writing to it.
TEST(RegistryStoreFile, AReaderSeesTheStoreAsWrittenAndAWriterAfterItStillWrites) {
  OtherStateDirectory state;
  RegistryKey reader = RegistryKey::LocalMachineForReading();
  RegistryKey key;
  ASSERT_EQ(platform::kFileNotFound, reader.Open("SOFTWARE\\HvsTest", platform::kKeyRead, key));
  RegistryKey written;
  ASSERT_EQ(0u, RegistryKey::LocalMachine().Create("SOFTWARE\\HvsTest", platform::kKeyAllAccess, written));
  ASSERT_EQ(0u, WriteText(written, "LastRun", "1700000000"));
  ASSERT_EQ(0u, reader.Open("SOFTWARE\\HvsTest", platform::kKeyAllAccess, key));
  EXPECT_EQ("1700000000", ReadText(key, "LastRun"));
  EXPECT_EQ(platform::kAccessDenied, WriteText(key, "LastRun", "0"));

  store::CloseStore();
  const std::string before = testsupport::ReadFile(state / "registry.db");
  ASSERT_EQ(0u, reader.Open("SOFTWARE\\HvsTest", platform::kKeyRead, key));
  EXPECT_EQ("1700000000", ReadText(key, "LastRun"));
  EXPECT_EQ(before, testsupport::ReadFile(state / "registry.db"));
  EXPECT_EQ(0u, WriteText(written, "LastRun", "1700000060"));
  EXPECT_EQ("1700000060", ReadText(key, "LastRun"));
}

// A directory that others control is refused, and the reason names it and its fault.
TEST(RegistryStoreFile, ARefusedStateDirectoryIsAProblemThatSaysWhy) {
  OtherStateDirectory state;
  namespace fs = std::filesystem;
  const std::string directory = OtherStateDirectory::Current();
  fs::permissions(directory, fs::perms::all);
  std::string why;
  EXPECT_EQ(platform::kAccessDenied, platform::RegistryStoreProblem(why));
  EXPECT_NE(why.find(directory), std::string::npos) << why;
  EXPECT_NE(why.find("may be written by others (mode 0777)"), std::string::npos) << why;
  RegistryKey key;
  EXPECT_EQ(platform::kAccessDenied,
            RegistryKey::LocalMachineForReading().Open("SOFTWARE", platform::kKeyRead, key));
  fs::permissions(directory, fs::perms::owner_all);
  EXPECT_EQ(platform::kSuccess, platform::RegistryStoreProblem(why));
}

TEST(RegistryStoreFile, StateDirectoryIsTheConfiguredOneCreatedOwnerOnly) {
  testsupport::TempDirectory scratch;
  const std::string saved = OtherStateDirectory::Current();
  const std::string configured = scratch / "nested/state";
  testsupport::SetEnv("HVS_STATE_DIR", configured);
  const std::string resolved = platform::posix::StateDirectory();
  testsupport::SetEnv("HVS_STATE_DIR", saved);
  EXPECT_EQ(configured, resolved);
  EXPECT_EQ(0700u, ModeOf(configured));
}

TEST_F(RegistryStore, PathsWithEmptyLevelsAreBadAndOneTrailingSeparatorIsIgnored) {
  RegistryKey key;
  for (const char* path : {"\\Leading", "Empty\\\\Level", "Two\\\\", "\\"}) {
    EXPECT_EQ(platform::kBadPathname, key_.Create(path, platform::kKeyAllAccess, key)) << path;
    EXPECT_EQ(platform::kBadPathname, key_.Open(path, platform::kKeyRead, key)) << path;
  }
  std::vector<std::string> names;
  ASSERT_EQ(0u, key_.ListSubkeys(names));
  EXPECT_TRUE(names.empty()) << "a rejected path created " << names.front();

  ASSERT_EQ(0u, key_.Create("Trailing\\", platform::kKeyAllAccess, key));
  ASSERT_EQ(0u, WriteText(key, "v", "1"));
  RegistryKey same;
  ASSERT_EQ(0u, key_.Open("Trailing", platform::kKeyRead, same));
  EXPECT_EQ("1", ReadText(same, "v"));
}

TEST_F(RegistryStore, QueryValueFollowsTheWin32Conventions) {
  ASSERT_EQ(0u, WriteText(key_, "Text", "abc"));
  std::uint32_t size = 0;
  std::uint32_t type = 0;
  ASSERT_EQ(0u, key_.QueryValue("Text", &type, nullptr, &size));
  EXPECT_EQ(3u, size) << "a text stored without NUL is reported without one";
  EXPECT_EQ(platform::kRegSz, type);
  EXPECT_EQ(0u, key_.QueryValue("Text", nullptr, nullptr, nullptr));

  char buffer[2] = {'-', '-'};
  EXPECT_EQ(platform::kInvalidParameter, key_.QueryValue("Text", nullptr, buffer, nullptr));
  type = 0;
  size = 2;
  EXPECT_EQ(platform::kMoreData, key_.QueryValue("Text", &type, buffer, &size));
  EXPECT_EQ(3u, size);
  EXPECT_EQ(platform::kRegSz, type) << "the type is reported with 234 too";
  EXPECT_EQ(platform::kInvalidParameter, key_.SetValue("Null", platform::kRegBinary, nullptr, 4));
}

TEST_F(RegistryStore, SubkeysAreSortedAndValuesKeepTheirCreationOrder) {
  RegistryKey key;
  for (const char* name : {"charlie", "Alpha", "bravo"}) {
    ASSERT_EQ(0u, key_.Create(name, platform::kKeyAllAccess, key));
  }
  for (const char* name : {"zulu", "Yankee", "xray"}) ASSERT_EQ(0u, WriteText(key_, name, name));
  ASSERT_EQ(0u, WriteText(key_, "ZULU", "again"));
  std::vector<std::string> names;
  ASSERT_EQ(0u, key_.ListSubkeys(names));
  EXPECT_EQ((std::vector<std::string>{"Alpha", "bravo", "charlie"}), names);
  ASSERT_EQ(0u, key_.ListValues(names));
  EXPECT_EQ((std::vector<std::string>{"zulu", "Yankee", "xray"}), names);
}

TEST_F(RegistryStore, RootCannotBeDeletedAndAnEmptyPathDeletesTheKeyItself) {
  EXPECT_EQ(platform::kAccessDenied, machine_.DeleteKey(""));
  RegistryKey doomed;
  ASSERT_EQ(0u, key_.Create("Doomed", platform::kKeyAllAccess, doomed));
  ASSERT_EQ(0u, doomed.DeleteKey(""));
  RegistryKey gone;
  EXPECT_EQ(platform::kFileNotFound, key_.Open("Doomed", platform::kKeyRead, gone));
}

const bool kDeleteRole =
    testsupport::RegisterChildRole("registry-delete", [](const std::string& path) {
      return static_cast<int>(RegistryKey::LocalMachine().DeleteKey(path));
    });

TEST_F(RegistryStore, KeyDeletedByAnotherProcessFailsEveryOperationOfItsHandle) {
  ASSERT_TRUE(kDeleteRole);
  RegistryKey victim;
  ASSERT_EQ(0u, key_.Create("Victim", platform::kKeyAllAccess, victim));
  ASSERT_EQ(0u, WriteText(victim, "Value", "x"));
  ASSERT_EQ(0, testsupport::RunChildRole("registry-delete", path_ + "\\Victim"));

  RegistryKey other;
  std::uint32_t size = 0;
  std::vector<std::string> names{"stale"};
  EXPECT_EQ(platform::kKeyDeleted, victim.Create("Sub", platform::kKeyAllAccess, other));
  EXPECT_EQ(platform::kKeyDeleted, victim.Open("", platform::kKeyRead, other));
  EXPECT_EQ(platform::kKeyDeleted, victim.QueryValue("Value", nullptr, nullptr, &size));
  EXPECT_EQ(platform::kKeyDeleted, WriteText(victim, "Value", "y"));
  EXPECT_EQ(platform::kKeyDeleted, victim.DeleteValue("Value"));
  EXPECT_EQ(platform::kKeyDeleted, victim.DeleteKey(""));
  EXPECT_EQ(platform::kKeyDeleted, victim.Flush());
  EXPECT_EQ(platform::kKeyDeleted, victim.ListSubkeys(names));
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(platform::kKeyDeleted, victim.ListValues(names));
  EXPECT_FALSE(other.IsOpen());
  EXPECT_EQ(platform::kFileNotFound, key_.Open("Victim", platform::kKeyRead, other))
      << "a failed Create through the dead handle must not revive the key";
}

TEST_F(RegistryStore, RightsOfTheHandleAreEnforced) {
  RegistryKey existing;
  ASSERT_EQ(0u, key_.Create("Existing", platform::kKeyAllAccess, existing));
  RegistryKey limited;
  ASSERT_EQ(0u, machine_.Open(path_, platform::kKeyQueryValue, limited));

  RegistryKey key;
  EXPECT_EQ(platform::kAccessDenied, limited.Create("New\\Deeper", platform::kKeyAllAccess, key));
  EXPECT_EQ(platform::kFileNotFound, key_.Open("New", platform::kKeyRead, key));
  EXPECT_EQ(0u, limited.Create("Existing", platform::kKeyAllAccess, key));

  std::vector<std::string> names;
  EXPECT_EQ(platform::kAccessDenied, limited.ListSubkeys(names));
  RegistryKey enumerator;
  ASSERT_EQ(0u, machine_.Open(path_, platform::kKeyEnumerateSubKeys, enumerator));
  EXPECT_EQ(0u, enumerator.ListSubkeys(names));
  EXPECT_EQ(platform::kAccessDenied, enumerator.ListValues(names));

  RegistryKey closed;
  EXPECT_EQ(platform::kInvalidHandle, closed.Open("Existing", platform::kKeyRead, key));
  EXPECT_EQ(platform::kInvalidHandle, closed.ListValues(names));
}

constexpr int kBurst = 150;

// Creates (or opens) the key Race\<index> below `base` and writes `name` = `data` in it.
bool RaceWrite(const RegistryKey& base, int index, std::string_view name, const std::string& data) {
  RegistryKey key;
  return base.Create("Race\\" + std::to_string(index), platform::kKeyAllAccess, key) == 0 &&
         WriteText(key, name, data) == 0;
}

// Writes kBurst keys with a value each; the exit code counts the failed writes.
const bool kBurstRole =
    testsupport::RegisterChildRole("registry-burst", [](const std::string& path) {
      RegistryKey base;
      if (RegistryKey::LocalMachine().Open(path, platform::kKeyAllAccess, base) != 0) return 100;
      int failures = 0;
      for (int i = 0; i < kBurst; ++i)
        failures += RaceWrite(base, i, "Child", std::to_string(i)) ? 0 : 1;
      return failures < 99 ? failures : 99;
    });

TEST_F(RegistryStore, TwoProcessesWritingAtOnceNeitherFails) {
  ASSERT_TRUE(kBurstRole);
  std::atomic<bool> childDone{false};
  int childFailures = -1;
  std::thread child([&] {
    childFailures = testsupport::RunChildRole("registry-burst", path_);
    childDone = true;
  });
  // The parent races the child over the same keys for as long as the child runs.
  int writes = 0;
  int failures = 0;
  for (; !childDone; ++writes)
    failures += RaceWrite(key_, writes % kBurst, "Parent", std::to_string(writes)) ? 0 : 1;
  child.join();
  EXPECT_EQ(0, childFailures);
  EXPECT_EQ(0, failures);
  EXPECT_GT(writes, 0);

  RegistryKey race;
  ASSERT_EQ(0u, key_.Open("Race", platform::kKeyRead, race));
  std::vector<std::string> names;
  ASSERT_EQ(0u, race.ListSubkeys(names));
  EXPECT_EQ(static_cast<std::size_t>(kBurst), names.size());
  for (int i = 0; i < kBurst; ++i) {
    RegistryKey key;
    ASSERT_EQ(0u, race.Open(std::to_string(i), platform::kKeyRead, key));
    EXPECT_EQ(std::to_string(i), ReadText(key, "Child"));
  }
}

// Another process's change to the key `path` while this one reads in a batch.
int ChangeShared(const std::string& path, const std::string& value) {
  RegistryKey key;
  if (RegistryKey::LocalMachine().Open(path, platform::kKeyAllAccess, key) != 0) return 10;
  return WriteText(key, "Shared", value) == 0 ? 0 : 11;
}
const bool kChangeRole = testsupport::RegisterChildRole(
    "registry-change", [](const std::string& path) { return ChangeShared(path, "changed"); });
const bool kChangeAgainRole = testsupport::RegisterChildRole(
    "registry-change-again", [](const std::string& path) { return ChangeShared(path, "again"); });

TEST_F(RegistryStore, ReadBatchSeesOneViewUntilAWriteOfItsOwnOrItsEnd) {
  ASSERT_TRUE(kChangeRole && kChangeAgainRole);
  ASSERT_EQ(0u, WriteText(key_, "Shared", "first"));
  {
    const platform::RegistryReadBatch batch;
    EXPECT_EQ("first", ReadText(key_, "Shared"));
    ASSERT_EQ(0, testsupport::RunChildRole("registry-change", path_));
    {
      const platform::RegistryReadBatch nested;
      RegistryKey reopened;
      ASSERT_EQ(0u, machine_.Open(path_, platform::kKeyRead, reopened));
      EXPECT_EQ("first", ReadText(reopened, "Shared")) << "one view for the whole batch";
    }
    EXPECT_EQ("first", ReadText(key_, "Shared")) << "a nested batch's end keeps the view";
    ASSERT_EQ(0u, WriteText(key_, "Own", "mine"));
    EXPECT_EQ("changed", ReadText(key_, "Shared")) << "a write ends the view";
    EXPECT_EQ("mine", ReadText(key_, "Own"));
    ASSERT_EQ(0, testsupport::RunChildRole("registry-change-again", path_));
    EXPECT_EQ("changed", ReadText(key_, "Shared")) << "the reads after a write share a view";
  }
  EXPECT_EQ("again", ReadText(key_, "Shared"));
}

}  // namespace
