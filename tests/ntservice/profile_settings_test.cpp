// CServiceShell's profile settings on the real registry, below a scratch service's key.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ntservice/service_shell.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "tests/support/registry_tree.h"

namespace {

using platform::Error;

class ProfileShell : public hvs::CServiceShell {
 public:
  explicit ProfileShell(const std::string& name) : CServiceShell(name.c_str(), "HVS Profile", "") {}
};

// A service key of its own, as installation would leave it, without "Parameters".
class ProfileSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    serviceKey_ = "SYSTEM\\CurrentControlSet\\Services\\HvsProfile" +
                  std::to_string(platform::TickCount());
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::LocalMachine().Create(serviceKey_, platform::kKeyAllAccess, key),
              0u);
    shell_ = std::make_unique<ProfileShell>(serviceKey_.substr(serviceKey_.rfind('\\') + 1));
  }
  void TearDown() override { testsupport::DeleteRegistryTree(serviceKey_); }

  std::string SectionKey(const std::string& section) const {
    return serviceKey_ + "\\Parameters\\" + section;
  }
  std::string Raw(const std::string& section, const std::string& entry,
                  std::uint32_t* type = nullptr) const {
    std::string bytes;
    return testsupport::ReadRawValue(SectionKey(section), entry, bytes, type) ? bytes : "<absent>";
  }
  void WriteRaw(const std::string& section, const std::string& entry, std::uint32_t type,
                const std::string& bytes) const {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::LocalMachine().Create(SectionKey(section),
                                                           platform::kKeyAllAccess, key),
              0u);
    ASSERT_EQ(key.SetValue(entry, type, bytes.data(), static_cast<std::uint32_t>(bytes.size())), 0u);
  }

  std::string serviceKey_;
  std::unique_ptr<ProfileShell> shell_;
};

TEST_F(ProfileSettings, ReadingFromAServiceWithoutParametersCreatesTheKeysAndGivesTheDefault) {
  Error error = 0;
  EXPECT_EQ(shell_->GetParameterString("Section", "Entry", "fallback", &error), "fallback");
  EXPECT_EQ(error, platform::kFileNotFound);
  EXPECT_TRUE(testsupport::KeyExists(SectionKey("Section")));

  EXPECT_EQ(shell_->GetParameterInt("Other", "Entry", -7, &error), -7);
  EXPECT_EQ(error, platform::kFileNotFound);
  EXPECT_TRUE(testsupport::KeyExists(SectionKey("Other")));
  EXPECT_EQ(shell_->GetParameterString("Other", "Entry", nullptr, nullptr), "");
}

TEST_F(ProfileSettings, WritesStoreTheirTypesAndReadBack) {
  std::uint32_t type = 0;
  ASSERT_TRUE(shell_->SetParameterString("S", "Text", "abc"));
  EXPECT_EQ(Raw("S", "Text", &type), std::string("abc\0", 4));
  EXPECT_EQ(type, platform::kRegSz);
  ASSERT_TRUE(shell_->SetParameterString("S", "Empty", ""));
  EXPECT_EQ(Raw("S", "Empty", &type), std::string(1, '\0'));
  ASSERT_TRUE(shell_->SetParameterInt("S", "Number", -2));
  EXPECT_EQ(Raw("S", "Number", &type), std::string("\xFE\xFF\xFF\xFF", 4));
  EXPECT_EQ(type, platform::kRegDword);
  ASSERT_TRUE(shell_->SetParameterStrings("S", "List", {"one", "two"}));
  EXPECT_EQ(Raw("S", "List", &type), std::string("one\0two\0\0", 9));
  EXPECT_EQ(type, platform::kRegMultiSz);
  const std::uint8_t block[] = {0, 1, 2, 0xFF, 0};
  ASSERT_TRUE(shell_->SetParameterBytes("S", "Block", block, sizeof block));
  EXPECT_EQ(Raw("S", "Block", &type), std::string("\0\1\2\xFF\0", 5));
  EXPECT_EQ(type, platform::kRegBinary);

  Error error = 99;
  EXPECT_EQ(shell_->GetParameterString("S", "Text", "x", &error), "abc");
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(shell_->GetParameterString("S", "Empty", "x", &error), "");
  EXPECT_EQ(shell_->GetParameterInt("S", "Number", 0, &error), -2);
  std::vector<std::string> list{"stale"};
  EXPECT_TRUE(shell_->GetParameterStrings("S", "List", list, &error));
  EXPECT_EQ(list, (std::vector<std::string>{"one", "two"}));
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(shell_->GetParameterBytes("S", "Block", bytes, &error));
  EXPECT_EQ(bytes, std::vector<std::uint8_t>(block, block + sizeof block));
}

TEST_F(ProfileSettings, TextsEndAtTheirFirstNulWhetherStoredWithOneOrNot) {
  WriteRaw("S", "Bare", platform::kRegSz, "bare");
  WriteRaw("S", "Inner", platform::kRegBinary, std::string("ab\0cd", 5));
  EXPECT_EQ(shell_->GetParameterString("S", "Bare", "x", nullptr), "bare");
  EXPECT_EQ(shell_->GetParameterString("S", "Inner", "x", nullptr), "ab");
}

TEST_F(ProfileSettings, IntegerReadRefusesValuesLongerThanFourBytesWith234) {
  WriteRaw("S", "Long", platform::kRegBinary, std::string("\1\0\0\0\0", 5));
  WriteRaw("S", "Short", platform::kRegBinary, std::string("\x34\x12", 2));
  Error error = 0;
  EXPECT_EQ(shell_->GetParameterInt("S", "Long", 17, &error), 17);
  EXPECT_EQ(error, platform::kMoreData);
  EXPECT_EQ(shell_->GetParameterInt("S", "Short", 17, &error), 0x1234);
  EXPECT_EQ(error, 0u);
}

TEST_F(ProfileSettings, FailedListAndByteReadsLeaveNothingBehind) {
  ASSERT_TRUE(shell_->SetParameterString("S", "Text", "abc"));
  std::vector<std::string> list{"stale"};
  Error error = 0;
  EXPECT_FALSE(shell_->GetParameterStrings("S", "Text", list, &error));
  EXPECT_EQ(error, platform::kInvalidData);
  EXPECT_TRUE(list.empty());

  std::vector<std::uint8_t> bytes{1, 2};
  EXPECT_FALSE(shell_->GetParameterBytes("S", "Missing", bytes, &error));
  EXPECT_EQ(error, platform::kFileNotFound);
  EXPECT_TRUE(bytes.empty());
}

TEST_F(ProfileSettings, NullValueDeletesTheEntryAndNullEntryTheSection) {
  ASSERT_TRUE(shell_->SetParameterString("S", "Gone", "1"));
  ASSERT_TRUE(shell_->SetParameterString("S", "Kept", "2"));
  EXPECT_TRUE(shell_->SetParameterString("S", "Gone", nullptr));
  EXPECT_EQ(Raw("S", "Gone"), "<absent>");
  EXPECT_EQ(Raw("S", "Kept"), std::string("2\0", 2));

  EXPECT_TRUE(shell_->SetParameterString("S", nullptr, "ignored"));
  EXPECT_FALSE(testsupport::KeyExists(SectionKey("S")));
  EXPECT_TRUE(testsupport::KeyExists(serviceKey_ + "\\Parameters"));
}

TEST_F(ProfileSettings, DeletingASectionWithSubkeysFailsAndChangesNothing) {
  ASSERT_TRUE(shell_->SetParameterString("S", "Kept", "2"));
  ASSERT_TRUE(shell_->SetParameterString("S\\Inner", "Deep", "3"));
  EXPECT_FALSE(shell_->SetParameterString("S", nullptr, nullptr));
  EXPECT_EQ(Raw("S", "Kept"), std::string("2\0", 2));
  EXPECT_EQ(Raw("S\\Inner", "Deep"), std::string("3\0", 2));
}

}  // namespace
