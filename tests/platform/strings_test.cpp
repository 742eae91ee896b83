// The case-blind comparison of names, as both targets agree on it.
#include <gtest/gtest.h>

#include "platform/strings.h"

namespace {

using platform::CompareNoCase;

TEST(CompareNoCase, FoldsAsciiLettersOnly) {
  EXPECT_EQ(CompareNoCase("SYNC.EXE", "sync.exe"), 0);
  EXPECT_EQ(CompareNoCase("Run_1.Bat", "rUN_1.bAT"), 0);
  EXPECT_NE(CompareNoCase("sync.exe", "sync.bat"), 0);
  EXPECT_NE(CompareNoCase("sync.exe", "sync.exe "), 0);
  EXPECT_EQ(CompareNoCase("\xE4x.exe", "\xE4X.EXE"), 0);
}

TEST(CompareNoCase, OrdersByTheFoldedTextAndAPrefixFirst) {
  EXPECT_LT(CompareNoCase("a", "B"), 0);
  EXPECT_GT(CompareNoCase("b", "A"), 0);
  EXPECT_LT(CompareNoCase("sync", "SYNC.EXE"), 0);
  EXPECT_GT(CompareNoCase("SYNC.EXE", "sync"), 0);
}

}  // namespace
