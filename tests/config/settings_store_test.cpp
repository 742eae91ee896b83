// SettingsStore on the real registry: defaults written back, exact bytes, task subkeys.
#include <gtest/gtest.h>

#include "config/settings_store.h"
#include "tests/support/registry_tree.h"
#include "tests/support/registry_values.h"
#include "tests/support/test_env.h"

namespace hvs {
namespace {

const std::string kProgram(kProgramKeyPath);
const std::string kReports(kReportsKeyPath);

class SettingsStoreTest : public ::testing::Test {
 protected:
  SettingsStoreTest() : log(false) {
    testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane");
    log.Init(dir.path(), "HVS.Log");
  }
  ~SettingsStoreTest() override { testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane"); }

  std::string Raw(const std::string& key, const std::string& name, std::uint32_t* type = nullptr) {
    std::string bytes;
    EXPECT_TRUE(testsupport::ReadRawValue(key, name, bytes, type)) << key << " " << name;
    return bytes;
  }
  bool Has(const std::string& key, const std::string& name) {
    std::string bytes;
    return testsupport::ReadRawValue(key, name, bytes);
  }
  std::string LogText() {
    return testsupport::FileExists(dir / "HVS.Log") ? testsupport::ReadFile(dir / "HVS.Log") : "";
  }

  testsupport::TempDirectory dir;
  LogFile log;
};

TEST_F(SettingsStoreTest, FirstUseCreatesKeysAndWritesDefaultsBackWithoutNul) {
  SettingsStore store(log);
  EXPECT_EQ(store.GetString("LoadTaskInterval", "60"), "60");
  EXPECT_TRUE(store.IsOpen());

  std::uint32_t type = 0;
  EXPECT_EQ(Raw(kProgram, "LoadTaskInterval", &type), "60");  // two bytes, no NUL
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(Raw(kReports, "SOAPUsername", &type), "");
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(Raw(kReports, "SOAPPassword"), "");
  EXPECT_EQ(LogText(), "");
}

TEST_F(SettingsStoreTest, EmptyValueGivesDefaultAndStaysEmpty) {
  testsupport::PutValue(kProgram, "LoadTaskInterval", platform::kRegSz, "");
  SettingsStore store(log);
  EXPECT_EQ(store.GetString("LoadTaskInterval", "60"), "60");
  EXPECT_EQ(Raw(kProgram, "LoadTaskInterval"), "");
}

TEST_F(SettingsStoreTest, ValuesOfOtherTypesReadAsTextUpToFirstNul) {
  const std::uint32_t sixty = 60;
  testsupport::PutValue(kProgram, "LoadTaskInterval", platform::kRegDword,
      std::string(reinterpret_cast<const char*>(&sixty), sizeof sixty));
  testsupport::PutValue(kProgram, "WithNul", platform::kRegSz, std::string("120\0", 4));
  testsupport::PutValue(kProgram, "WithoutNul", platform::kRegSz, "120");
  SettingsStore store(log);
  EXPECT_EQ(store.GetString("LoadTaskInterval", "60"), "<");
  EXPECT_EQ(store.GetString("WithNul", "x"), "120");
  EXPECT_EQ(store.GetString("WithoutNul", "x"), "120");
}

TEST_F(SettingsStoreTest, ValuesOfEveryLengthReadWhole) {
  SettingsStore store(log);
  for (const std::size_t length : {255, 256, 257, 4000}) {
    const std::string text(length, 'v');
    testsupport::PutValue(kProgram, "Long", platform::kRegSz, text);
    EXPECT_EQ(store.GetString("Long", "x"), text) << length;
  }
}

TEST_F(SettingsStoreTest, OpenLeavesExistingSoapValuesAlone) {
  testsupport::PutValue(kReports, "SOAPUsername", platform::kRegSz, "operator");
  testsupport::PutValue(kReports, "SOAPPassword", platform::kRegSz, std::string("secret\0", 7));
  SettingsStore store(log);
  store.Open();
  EXPECT_EQ(Raw(kReports, "SOAPUsername"), "operator");
  EXPECT_EQ(Raw(kReports, "SOAPPassword"), std::string("secret\0", 7));
}

TEST_F(SettingsStoreTest, TaskValuesLiveInTheTaskSubkey) {
  SettingsStore store(log);
  EXPECT_EQ(store.GetTaskValue("Backup", "LastRun", "0"), "0");
  EXPECT_EQ(Raw(kProgram + "\\Backup", "LastRun"), "0");
  EXPECT_EQ(store.GetTaskValue("Backup", "ShowFullCommand", "0"), "0");
  store.SetTaskValue("Backup", "LastRun", "1796652239");
  EXPECT_EQ(Raw(kProgram + "\\Backup", "LastRun"), "1796652239");
  EXPECT_EQ(Raw(kProgram + "\\Backup", "ShowFullCommand"), "0");
  // Names that differ only in case address the same subkey.
  EXPECT_EQ(store.GetTaskValue("BACKUP", "LastRun", "0"), "1796652239");
}

TEST_F(SettingsStoreTest, TaskNameWithBackslashNestsAndEmptyNameIsTheProgramKey) {
  SettingsStore store(log);
  store.SetTaskValue("Group\\Nightly", "LastRun", "5");
  EXPECT_EQ(Raw(kProgram + "\\Group\\Nightly", "LastRun"), "5");
  store.SetTaskValue("", "LastRun", "7");
  EXPECT_EQ(Raw(kProgram, "LastRun"), "7");
  EXPECT_EQ(store.GetTaskValue("", "ShowFullCommand", "0"), "0");
  EXPECT_EQ(Raw(kProgram, "ShowFullCommand"), "0");
}

TEST_F(SettingsStoreTest, ReadMachineValueOnlyReads) {
  SettingsStore store(log);
  const std::string database = "SOFTWARE\\Sorvane\\Meridel Server\\Database";
  EXPECT_EQ(store.ReadMachineValue(database, "DSN", "zav_svmeridel"), "zav_svmeridel");
  EXPECT_FALSE(testsupport::KeyExists(database));

  testsupport::PutValue(database, "User", platform::kRegSz, "");
  EXPECT_EQ(store.ReadMachineValue(database, "DSN", "zav_svmeridel"), "zav_svmeridel");
  EXPECT_FALSE(Has(database, "DSN"));
  EXPECT_EQ(store.ReadMachineValue(database, "User", "nobody"), "nobody");
  testsupport::PutValue(database, "DSN", platform::kRegSz, "prod");
  EXPECT_EQ(store.ReadMachineValue(database, "dsn", "zav_svmeridel"), "prod");
  // It never opens the program's key.
  EXPECT_FALSE(testsupport::KeyExists(kProgram));
}

TEST_F(SettingsStoreTest, KeyDeletedWhileInUseIsCreatedAgain) {
  SettingsStore store(log);
  store.SetTaskValue("Backup", "LastRun", "5");
  testsupport::DeleteRegistryTree(kProgram);
  EXPECT_EQ(store.GetTaskValue("Backup", "LastRun", "0"), "0");
  EXPECT_EQ(Raw(kProgram + "\\Backup", "LastRun"), "0");
  EXPECT_EQ(store.GetString("LoadTaskInterval", "60"), "60");
  EXPECT_EQ(Raw(kProgram, "LoadTaskInterval"), "60");
  EXPECT_EQ(LogText(), "");
}

TEST_F(SettingsStoreTest, UnusableRegistryGivesDefaultsAndOneLinePerFailedOpen) {
  SettingsStore store(log, platform::RegistryKey());  // no root key: every open fails
  EXPECT_EQ(store.GetString("LoadTaskInterval", "60"), "60");
  EXPECT_FALSE(store.IsOpen());
  EXPECT_EQ(store.GetTaskValue("Backup", "LastRun", "0"), "0");
  store.SetTaskValue("Backup", "LastRun", "5");
  EXPECT_EQ(store.ReadMachineValue(kReports, "SOAPUsername", "d"), "d");

  const std::string text = LogText();
  std::size_t count = 0;
  for (auto at = text.find("] Creating HVS registry key failed\r\n"); at != std::string::npos;
       at = text.find("] Creating HVS registry key failed\r\n", at + 1))
    ++count;
  EXPECT_EQ(count, 3u) << text;
  EXPECT_EQ(text.find("task registry key"), std::string::npos);
}

}  // namespace
}  // namespace hvs

namespace hvs {
namespace {

TEST_F(SettingsStoreTest, TaskKeyThatCannotBeCreatedLogsAndGivesTheDefault) {
  SettingsStore store(log);
  // A path may not begin with a separator, so this subkey can never be created.
  EXPECT_EQ(store.GetTaskValue("\\Backup", "LastRun", "0"), "0");
  store.SetTaskValue("\\Backup", "LastRun", "5");
  const std::string text = LogText();
  const auto first = text.find("] Creating task registry key failed\r\n");
  ASSERT_NE(first, std::string::npos) << text;
  EXPECT_NE(text.find("] Creating task registry key failed\r\n", first + 1), std::string::npos);
  EXPECT_EQ(text.find("Creating HVS"), std::string::npos);
}

TEST_F(SettingsStoreTest, ValueThatCannotBeWrittenLogsAndTheCallerGoesOn) {
  SettingsStore store(log);
  const std::string tooLong(20000, 'v');  // beyond the registry's limit for value names
  EXPECT_EQ(store.GetTaskValue("Backup", tooLong, "0"), "0");
  store.SetTaskValue("Backup", tooLong, "5");
  const std::string text = LogText();
  const auto first = text.find("] Could not write registry key\r\n");
  ASSERT_NE(first, std::string::npos) << text;
  EXPECT_NE(text.find("] Could not write registry key\r\n", first + 1), std::string::npos);
  EXPECT_TRUE(testsupport::KeyExists(kProgram + "\\Backup"));
}

TEST_F(SettingsStoreTest, ReadOnlyStoreReadsWhatIsStoredAndCreatesNothing) {
  SettingsStore reader(log, platform::RegistryKey::LocalMachine(),
                       SettingsStore::Access::kReadOnly);
  // No program key at all: every read is the default, and nothing appears.
  EXPECT_EQ(reader.GetString("LoadTaskInterval", "60"), "60");
  EXPECT_EQ(reader.GetTaskValue("Backup", "LastRun", "0"), "0");
  reader.SetTaskValue("Backup", "LastRun", "5");
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_FALSE(testsupport::KeyExists(kProgram));
  EXPECT_FALSE(testsupport::KeyExists(kReports));

  testsupport::PutValue(kProgram + "\\Backup", "LastRun", platform::kRegSz, "1796652239");
  EXPECT_EQ(reader.GetTaskValue("Backup", "LastRun", "0"), "1796652239");
  EXPECT_EQ(reader.GetTaskValue("Backup", "ShowFullCommand", "0"), "0");
  EXPECT_EQ(reader.GetTaskValue("Nightly", "LastRun", "0"), "0");
  EXPECT_EQ(reader.GetString("LoadTaskInterval", "60"), "60");
  reader.SetTaskValue("Backup", "LastRun", "5");
  EXPECT_TRUE(reader.IsOpen());
  EXPECT_EQ(Raw(kProgram + "\\Backup", "LastRun"), "1796652239");
  EXPECT_FALSE(Has(kProgram + "\\Backup", "ShowFullCommand"));
  EXPECT_FALSE(Has(kProgram, "LoadTaskInterval"));
  EXPECT_FALSE(testsupport::KeyExists(kProgram + "\\Nightly"));
  EXPECT_FALSE(testsupport::KeyExists(kReports));
  EXPECT_EQ(LogText(), "");
}

}  // namespace
}  // namespace hvs
