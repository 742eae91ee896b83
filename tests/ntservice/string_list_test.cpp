// The REG_MULTI_SZ list format, byte for byte, through the real registry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntservice/string_list.h"
#include "platform/clock.h"
#include "tests/support/registry_tree.h"

namespace {

using namespace std::string_literals;
using List = std::vector<std::string>;

class StringList : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = "SOFTWARE\\HvsTest\\StringList-" + std::to_string(platform::TickCount());
    ASSERT_EQ(platform::kSuccess, platform::RegistryKey::LocalMachine().Create(
                                      path_, platform::kKeyAllAccess, key_));
  }
  void TearDown() override {
    key_.Close();
    testsupport::DeleteRegistryTree(path_);
  }

  std::string Written(const List& list) {
    EXPECT_EQ(platform::kSuccess, hvs::WriteStringList(key_, "List", list));
    std::string bytes;
    std::uint32_t type = 0;
    EXPECT_TRUE(testsupport::ReadRawValue(path_, "List", bytes, &type));
    EXPECT_EQ(platform::kRegMultiSz, type);
    return bytes;
  }

  List Read(std::uint32_t type, const std::string& bytes, platform::Error expected = 0) {
    EXPECT_EQ(platform::kSuccess,
              key_.SetValue("List", type, bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    List list = {"left over"};
    EXPECT_EQ(expected, hvs::ReadStringList(key_, "List", list));
    return list;
  }

  std::string path_;
  platform::RegistryKey key_;
};

TEST_F(StringList, WritesEachEntryWithItsNulThenOneMoreNul) {
  EXPECT_EQ("one\0two\0\0"s, Written({"one", "two"}));
  EXPECT_EQ("\0"s, Written({}));
  // An entry is a C string: what follows a NUL inside it is not part of it.
  EXPECT_EQ("a\0c\0\0"s, Written({"a\0b"s, "c"}));
}

TEST_F(StringList, ReadsEntriesUpToTheFirstEmptyOneOrTheEndOfTheData) {
  EXPECT_EQ((List{"one", "two"}), Read(platform::kRegMultiSz, "one\0two\0\0"s));
  EXPECT_EQ((List{"a"}), Read(platform::kRegMultiSz, "a\0\0b\0\0"s));
  EXPECT_EQ((List{"a", "bc"}), Read(platform::kRegMultiSz, "a\0bc"s));
  EXPECT_EQ(List{}, Read(platform::kRegMultiSz, ""s));
  EXPECT_EQ(List{}, Read(platform::kRegMultiSz, "\0"s));
}

TEST_F(StringList, RefusesOtherTypesWith13AndLeavesTheListEmpty) {
  EXPECT_EQ(List{}, Read(platform::kRegSz, "one\0two\0\0"s, platform::kInvalidData));
  EXPECT_EQ(List{}, Read(platform::kRegBinary, "x\0\0"s, platform::kInvalidData));
}

TEST_F(StringList, AMissingValueIs2) {
  List list = {"left over"};
  EXPECT_EQ(platform::kFileNotFound, hvs::ReadStringList(key_, "Absent", list));
  EXPECT_TRUE(list.empty());
}

}  // namespace
