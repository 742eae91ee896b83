// Registry views on 64-bit Windows: SOFTWARE keys are where a 32-bit program has them.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "platform/registry.h"
#include "tests/support/registry_tree.h"

namespace {

using platform::RegistryKey;

// Whether `path` exists in the given view, asked of the system directly.
bool ExistsInView(const std::string& path, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
    return false;
  ::RegCloseKey(key);
  return true;
}

// A 64-bit program sees the 32-bit view of SOFTWARE below WOW6432Node.
std::string In32BitView(const std::string& path) {
  return "SOFTWARE\\WOW6432Node" + path.substr(path.find('\\'));
}

struct ViewCase {
  const char* opened;  // the path given to Create, from the root
  const char* below;   // a subkey created from the opened key, relative to it
  const char* where;   // where both must be: the "32-bit" or the "shared" view
};

void PrintTo(const ViewCase& c, std::ostream* out) { *out << c.opened << " (" << c.where << ")"; }

class RegistryView : public ::testing::TestWithParam<ViewCase> {
 protected:
  void TearDown() override {
    testsupport::DeleteRegistryTree("SOFTWARE\\HvsViewTest");
    testsupport::DeleteRegistryTree("SYSTEM\\HvsViewTest");
  }
};

TEST_P(RegistryView, KeysUnderSoftwareAreInThe32BitViewOthersAreShared) {
  const ViewCase& c = GetParam();
  RegistryKey key;
  RegistryKey subkey;
  ASSERT_EQ(platform::kSuccess,
            RegistryKey::LocalMachine().Create(c.opened, platform::kKeyAllAccess, key));
  ASSERT_EQ(platform::kSuccess, key.Create(c.below, platform::kKeyAllAccess, subkey));
  const std::string full = std::string(c.opened) + "\\" + c.below;

  if (std::string(c.where) == "32-bit") {
    EXPECT_TRUE(ExistsInView(In32BitView(full), KEY_WOW64_64KEY)) << full;
    EXPECT_FALSE(ExistsInView(full, KEY_WOW64_64KEY)) << full << " is in the 64-bit view";
  } else {
    EXPECT_TRUE(ExistsInView(full, KEY_WOW64_64KEY)) << full;
    EXPECT_TRUE(ExistsInView(full, KEY_WOW64_32KEY)) << full;
  }
  // Reopened and deleted from the root in the same view it was made in.
  subkey.Close();
  RegistryKey reopened;
  EXPECT_EQ(platform::kSuccess,
            RegistryKey::LocalMachine().Open(full, platform::kKeyQueryValue, reopened));
  reopened.Close();
  EXPECT_EQ(platform::kSuccess, RegistryKey::LocalMachine().DeleteKey(full));
  EXPECT_FALSE(ExistsInView(full, KEY_WOW64_32KEY)) << full << " survived its deletion";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RegistryView,
    ::testing::Values(ViewCase{"SOFTWARE\\HvsViewTest", "Task", "32-bit"},
                      ViewCase{"software\\HvsViewTest\\Sub", "Task", "32-bit"},
                      ViewCase{"SYSTEM\\HvsViewTest", "Task", "shared"}));

// What a 32-bit program wrote is what this one reads.
TEST(RegistryViewValues, ValuesWrittenInThe32BitViewAreReadUnderSoftware) {
  HKEY native = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\HvsViewTest", 0,
                                              nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                                              nullptr, &native, nullptr));
  ::RegSetValueExA(native, "LastRun", 0, REG_SZ, reinterpret_cast<const BYTE*>("1234"), 5);
  ::RegCloseKey(native);

  RegistryKey key;
  ASSERT_EQ(platform::kSuccess,
            RegistryKey::LocalMachine().Open("SOFTWARE\\HvsViewTest", platform::kKeyQueryValue, key));
  char data[16] = {};
  std::uint32_t size = sizeof data;
  EXPECT_EQ(platform::kSuccess, key.QueryValue("LastRun", nullptr, data, &size));
  EXPECT_STREQ("1234", data);
  key.Close();
  testsupport::DeleteRegistryTree("SOFTWARE\\HvsViewTest");
}

}  // namespace
