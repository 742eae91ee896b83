// MatchFirstGroup: whole-text match, group 1, and text unchanged for no match or a bad pattern.
#include "config/match_first_group.h"

#include <gtest/gtest.h>

namespace hvs {
namespace {

TEST(MatchFirstGroupTest, WholeTextMatchGivesGroupOne) {
  EXPECT_EQ(MatchFirstGroup("(a+)b", "aab"), "aa");
  EXPECT_EQ(MatchFirstGroup("(x)?y", "y"), "");  // group 1 took no part
  EXPECT_EQ(MatchFirstGroup("a+", "aa"), "");     // there is no group 1
  EXPECT_EQ(MatchFirstGroup(R"(^(?:https?:\/\/)?([^\:]*).*)", "https://a.b:1/"), "a.b");
}

// More patterns in turn than the thread keeps compiled, one the prefix of another, and a bad
// one among them: each call is answered by its own pattern.
TEST(MatchFirstGroupTest, PatternsUsedInTurnEachGiveTheirOwnMatch) {
  const struct {
    const char* pattern;
    const char* expected;
  } cases[] = {{"a(b)", "b"}, {"a(b)c", "ab"}, {"(a)b", "a"},
               {"(", "ab"},   {"(b)?ab", ""},   {"(ab)", "ab"}};
  for (int round = 0; round < 3; ++round)
    for (const auto& c : cases)
      EXPECT_EQ(MatchFirstGroup(c.pattern, "ab"), c.expected) << c.pattern;
}

TEST(MatchFirstGroupTest, NoMatchGivesTextUnchanged) {
  EXPECT_EQ(MatchFirstGroup("(a+)b", "aabc"), "aabc");  // a match must cover the whole text
  EXPECT_EQ(MatchFirstGroup("(a+)b", "xaab"), "xaab");
  EXPECT_EQ(MatchFirstGroup("(abc)", "ABC"), "ABC");    // case-sensitive
  EXPECT_EQ(MatchFirstGroup("(a)", ""), "");
}

TEST(MatchFirstGroupTest, BadPatternOrRunawayMatchGivesTextUnchanged) {
  EXPECT_EQ(MatchFirstGroup("(", "text"), "text");
  EXPECT_EQ(MatchFirstGroup("[z-a](x)", "x"), "x");
  // Exponential backtracking: the engine gives up with an error rather than run on.
  const std::string as(30, 'a');
  EXPECT_EQ(MatchFirstGroup("(a*)*b", as), as);
}

}  // namespace
}  // namespace hvs
