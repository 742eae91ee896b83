// The registry contract the core relies on, asserted only as far as real Windows behaves.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tests/support/child_role.h"
#include "tests/support/test_env.h"

namespace {

using platform::Error;
using platform::RegistryKey;

// The value's bytes, read the way the settings store does: size first, then the data.
std::string ReadBytes(const RegistryKey& key, std::string_view name,
                      std::uint32_t* type = nullptr) {
  std::uint32_t size = 0;
  const Error sized = key.QueryValue(name, type, nullptr, &size);
  EXPECT_EQ(platform::kSuccess, sized) << "size of " << name;
  if (sized != platform::kSuccess) return "<absent>";
  std::string data(size + 16, '\x7f');
  std::uint32_t capacity = static_cast<std::uint32_t>(data.size());
  EXPECT_EQ(platform::kSuccess, key.QueryValue(name, type, data.data(), &capacity));
  data.resize(capacity);
  return data;
}

Error WriteBytes(const RegistryKey& key, std::string_view name, std::uint32_t type,
                 const std::string& data) {
  return key.SetValue(name, type, data.data(), static_cast<std::uint32_t>(data.size()));
}

// Each test works below a key of its own that it removes at the end.
class RegistryContract : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::string("SOFTWARE\\HvsTest\\") + test->name() + "-" +
            std::to_string(platform::TickCount());
    ASSERT_EQ(platform::kSuccess, machine_.Create(path_, platform::kKeyAllAccess, key_));
  }
  void TearDown() override {
    key_.Close();
    machine_.DeleteTree(path_);
  }

  RegistryKey machine_ = RegistryKey::LocalMachine();
  std::string path_;
  RegistryKey key_;
};

TEST_F(RegistryContract, NamesMatchWithoutRegardToCaseAndKeepTheCaseOfTheirCreation) {
  RegistryKey created;
  ASSERT_EQ(0u, key_.Create("Alpha\\Beta", platform::kKeyAllAccess, created));
  RegistryKey again;
  EXPECT_EQ(0u, key_.Create("ALPHA\\beta", platform::kKeyAllAccess, again));
  RegistryKey opened;
  ASSERT_EQ(0u, key_.Open("aLpHa\\BETA", platform::kKeyAllAccess, opened));

  ASSERT_EQ(0u, WriteBytes(opened, "MixedCase", platform::kRegSz, "first"));
  EXPECT_EQ("first", ReadBytes(created, "mixedcase"));
  ASSERT_EQ(0u, WriteBytes(again, "MIXEDCASE", platform::kRegSz, "second"));
  EXPECT_EQ("second", ReadBytes(opened, "MixedCase"));

  std::vector<std::string> names;
  ASSERT_EQ(0u, key_.ListSubkeys(names));
  EXPECT_EQ(std::vector<std::string>{"Alpha"}, names);
  ASSERT_EQ(0u, opened.ListValues(names));
  EXPECT_EQ(std::vector<std::string>{"MixedCase"}, names);
}

TEST_F(RegistryContract, ValuesKeepTheirTypeAndExactBytes) {
  const std::string text = "no terminator";
  const std::string binary("\0a\0\0b\xff", 6);
  const std::string dword("\x3c\0\0\0", 4);
  const std::string list("one\0two\0\0", 9);
  ASSERT_EQ(0u, WriteBytes(key_, "Text", platform::kRegSz, text));
  ASSERT_EQ(0u, WriteBytes(key_, "Binary", platform::kRegBinary, binary));
  ASSERT_EQ(0u, WriteBytes(key_, "Dword", platform::kRegDword, dword));
  ASSERT_EQ(0u, WriteBytes(key_, "List", platform::kRegMultiSz, list));
  ASSERT_EQ(0u, WriteBytes(key_, "Empty", platform::kRegBinary, ""));

  std::uint32_t type = 0;
  EXPECT_EQ(text, ReadBytes(key_, "Text", &type));
  EXPECT_EQ(platform::kRegSz, type);
  EXPECT_EQ(binary, ReadBytes(key_, "Binary", &type));
  EXPECT_EQ(platform::kRegBinary, type);
  EXPECT_EQ(dword, ReadBytes(key_, "Dword", &type));
  EXPECT_EQ(platform::kRegDword, type);
  EXPECT_EQ(list, ReadBytes(key_, "List", &type));
  EXPECT_EQ(platform::kRegMultiSz, type);
  EXPECT_EQ("", ReadBytes(key_, "Empty"));

  // Replacing a value replaces its type and its size too.
  ASSERT_EQ(0u, WriteBytes(key_, "Binary", platform::kRegSz, "x"));
  EXPECT_EQ("x", ReadBytes(key_, "Binary", &type));
  EXPECT_EQ(platform::kRegSz, type);

  std::uint32_t size = 0;
  ASSERT_EQ(0u, key_.QueryValue("Dword", nullptr, nullptr, &size));
  EXPECT_EQ(4u, size);
}

TEST_F(RegistryContract, CreateMakesEveryMissingLevelAndOpenFindsOnlyExistingOnes) {
  RegistryKey deep;
  ASSERT_EQ(0u, key_.Create("one\\two\\three", platform::kKeyAllAccess, deep));
  ASSERT_EQ(0u, WriteBytes(deep, "Here", platform::kRegSz, "deep"));
  for (const char* path : {"one", "one\\two", "one\\two\\three"}) {
    RegistryKey level;
    EXPECT_EQ(0u, key_.Open(path, platform::kKeyRead, level)) << path;
  }
  RegistryKey reopened;
  ASSERT_EQ(0u, machine_.Open(path_ + "\\one\\two\\three", platform::kKeyRead, reopened));
  EXPECT_EQ("deep", ReadBytes(reopened, "Here"));

  RegistryKey missing;
  EXPECT_EQ(platform::kFileNotFound, key_.Open("one\\absent", platform::kKeyRead, missing));
  EXPECT_EQ(platform::kFileNotFound, key_.Open("absent\\two", platform::kKeyRead, missing));
  EXPECT_FALSE(missing.IsOpen());
}

TEST_F(RegistryContract, MissingValuesAndKeysAreFileNotFound) {
  std::uint32_t size = 0;
  EXPECT_EQ(platform::kFileNotFound, key_.QueryValue("Absent", nullptr, nullptr, &size));
  EXPECT_EQ(platform::kFileNotFound, key_.QueryValue("", nullptr, nullptr, &size));
  EXPECT_EQ(platform::kFileNotFound, key_.DeleteValue("Absent"));
  EXPECT_EQ(platform::kFileNotFound, key_.DeleteKey("Absent"));

  ASSERT_EQ(0u, WriteBytes(key_, "Gone", platform::kRegSz, "soon"));
  ASSERT_EQ(0u, key_.DeleteValue("GONE"));
  EXPECT_EQ(platform::kFileNotFound, key_.QueryValue("Gone", nullptr, nullptr, &size));
}

TEST_F(RegistryContract, TooSmallBufferIsMoreDataWithTheStoredSize) {
  const std::string data = "0123456789";
  ASSERT_EQ(0u, WriteBytes(key_, "Ten", platform::kRegBinary, data));

  char buffer[16] = {};
  std::uint32_t size = 4;
  std::uint32_t type = 0;
  EXPECT_EQ(platform::kMoreData, key_.QueryValue("Ten", &type, buffer, &size));
  EXPECT_EQ(10u, size);
  size = 10;
  ASSERT_EQ(0u, key_.QueryValue("Ten", &type, buffer, &size));
  EXPECT_EQ(data, std::string(buffer, size));
  EXPECT_EQ(platform::kRegBinary, type);
}

TEST_F(RegistryContract, KeyWithSubkeysIsNotDeletedAndStaysUnchanged) {
  RegistryKey child;
  ASSERT_EQ(0u, key_.Create("Parent\\Child", platform::kKeyAllAccess, child));
  RegistryKey parent;
  ASSERT_EQ(0u, key_.Open("Parent", platform::kKeyAllAccess, parent));
  ASSERT_EQ(0u, WriteBytes(parent, "Kept", platform::kRegSz, "still here"));

  EXPECT_EQ(platform::kAccessDenied, key_.DeleteKey("Parent"));
  EXPECT_EQ("still here", ReadBytes(parent, "Kept"));
  RegistryKey reopened;
  EXPECT_EQ(0u, key_.Open("Parent\\Child", platform::kKeyRead, reopened));

  // Deepest first succeeds, and the values go with their key.
  EXPECT_EQ(0u, key_.DeleteKey("Parent\\Child"));
  EXPECT_EQ(0u, key_.DeleteKey("Parent"));
  EXPECT_EQ(platform::kFileNotFound, key_.Open("Parent", platform::kKeyRead, reopened));
  RegistryKey recreated;
  ASSERT_EQ(0u, key_.Create("Parent", platform::kKeyAllAccess, recreated));
  std::vector<std::string> values;
  ASSERT_EQ(0u, recreated.ListValues(values));
  EXPECT_TRUE(values.empty());
}

TEST_F(RegistryContract, DeleteTreeTakesTheKeyWithAllBelowItAndNothingElse) {
  for (const char* path : {"Tree\\A\\Deep\\Deeper", "Tree\\A\\Flat", "Tree\\B", "Kept\\Child"}) {
    RegistryKey created;
    ASSERT_EQ(0u, key_.Create(path, platform::kKeyAllAccess, created)) << path;
    ASSERT_EQ(0u, WriteBytes(created, "Value", platform::kRegSz, path));
  }

  EXPECT_EQ(0u, key_.DeleteTree("tree\\a"));
  RegistryKey tree;
  ASSERT_EQ(0u, key_.Open("Tree", platform::kKeyRead, tree));
  std::vector<std::string> subkeys;
  ASSERT_EQ(0u, tree.ListSubkeys(subkeys));
  EXPECT_EQ(std::vector<std::string>{"B"}, subkeys);

  EXPECT_EQ(0u, key_.DeleteTree("TREE"));
  EXPECT_EQ(platform::kFileNotFound, key_.Open("Tree", platform::kKeyRead, tree));
  RegistryKey kept;
  ASSERT_EQ(0u, key_.Open("Kept\\Child", platform::kKeyRead, kept));
  EXPECT_EQ("Kept\\Child", ReadBytes(kept, "Value"));

  // A missing key is 2; a failure other than that comes back as it is.
  EXPECT_EQ(platform::kFileNotFound, key_.DeleteTree("Tree"));
  EXPECT_EQ(platform::kFileNotFound, key_.DeleteTree("Kept\\Absent"));
  ASSERT_EQ(0u, key_.DeleteTree("Kept"));
  EXPECT_EQ(platform::kKeyDeleted, kept.DeleteTree("Below"));
}

TEST_F(RegistryContract, HandleToAKeyDeletedElsewhereFailsWithKeyDeleted) {
  RegistryKey victim;
  ASSERT_EQ(0u, key_.Create("Victim", platform::kKeyAllAccess, victim));
  ASSERT_EQ(0u, WriteBytes(victim, "Value", platform::kRegSz, "x"));
  ASSERT_EQ(0u, key_.DeleteKey("Victim"));

  std::uint32_t size = 0;
  EXPECT_EQ(platform::kKeyDeleted, victim.QueryValue("Value", nullptr, nullptr, &size));
  EXPECT_EQ(platform::kKeyDeleted, WriteBytes(victim, "Value", platform::kRegSz, "y"));

  // A new key of the same name is another key; the old handle stays dead.
  RegistryKey successor;
  ASSERT_EQ(0u, key_.Create("Victim", platform::kKeyAllAccess, successor));
  EXPECT_EQ(platform::kKeyDeleted, WriteBytes(victim, "Value", platform::kRegSz, "y"));
  EXPECT_EQ(platform::kFileNotFound, successor.QueryValue("Value", nullptr, nullptr, &size));
}

TEST_F(RegistryContract, HandleRightsLimitWhatItMayDo) {
  ASSERT_EQ(0u, WriteBytes(key_, "Guarded", platform::kRegSz, "original"));
  RegistryKey reader;
  ASSERT_EQ(0u, machine_.Open(path_, platform::kKeyQueryValue, reader));
  EXPECT_EQ(platform::kAccessDenied, WriteBytes(reader, "Guarded", platform::kRegSz, "changed"));
  EXPECT_EQ(platform::kAccessDenied, reader.DeleteValue("Guarded"));
  EXPECT_EQ("original", ReadBytes(reader, "Guarded"));

  RegistryKey writer;
  ASSERT_EQ(0u, machine_.Open(path_, platform::kKeySetValue, writer));
  std::uint32_t size = 0;
  EXPECT_EQ(platform::kAccessDenied, writer.QueryValue("Guarded", nullptr, nullptr, &size));
  EXPECT_EQ(0u, WriteBytes(writer, "Guarded", platform::kRegSz, "changed"));
  EXPECT_EQ("changed", ReadBytes(key_, "Guarded"));
}

// The child checks what the parent wrote, then answers with a value of its own.
const bool kHandoffRole =
    testsupport::RegisterChildRole("registry-handoff", [](const std::string& path) {
      RegistryKey key;
      if (RegistryKey::LocalMachine().Open(path, platform::kKeyAllAccess, key) != 0) return 10;
      char buffer[64] = {};
      std::uint32_t size = sizeof buffer;
      if (key.QueryValue("FromParent", nullptr, buffer, &size) != 0) return 11;
      if (std::string(buffer, size) != "parent wrote this") return 12;
      const std::string answer("child\0wrote", 11);
      if (WriteBytes(key, "FromChild", platform::kRegBinary, answer) != 0) return 13;
      return key.Flush() == 0 ? 0 : 14;
    });

TEST_F(RegistryContract, ValueWrittenByOneProcessIsReadByAnother) {
  ASSERT_TRUE(kHandoffRole);
  ASSERT_EQ(0u, WriteBytes(key_, "FromParent", platform::kRegSz, "parent wrote this"));
  ASSERT_EQ(0u, key_.Flush());
  ASSERT_EQ(0, testsupport::RunChildRole("registry-handoff", path_));
  EXPECT_EQ(std::string("child\0wrote", 11), ReadBytes(key_, "FromChild"));
}

}  // namespace
