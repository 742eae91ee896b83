// The Microsoft C runtime's argument splitting: one command, the same arguments on both targets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/command_line.h"

namespace {

using Arguments = std::vector<std::string>;

struct Split {
  std::string commandLine;
  Arguments arguments;
};

TEST(SplitCommandLine, FollowsTheMicrosoftRuntimeRules) {
  const Split table[] = {
      {R"(tool a  b	c)", {"tool", "a", "b", "c"}},
      {R"("C:\Program Files\x.exe" nightly)", {R"(C:\Program Files\x.exe)", "nightly"}},
      {R"(C:\bin\tool.exe C:\data\ "a\b")", {R"(C:\bin\tool.exe)", R"(C:\data\)", R"(a\b)"}},
      {R"(p "a b" c" "d)", {"p", "a b", "c d"}},
      {R"(p a\"b a\\"b c" a\\\"b)", {"p", R"(a"b)", R"(a\b c)", R"(a\"b)"}},
      {R"(p a\\\\"b c")", {"p", R"(a\\b c)"}},
      {R"(p "" "a""b" x""y)", {"p", "", R"(a"b)", "xy"}},
      {R"(p "unterminated arg)", {"p", "unterminated arg"}},
      {R"(p trailing\\)", {"p", R"(trailing\\)"}},
      // The program name knows quotes only: its backslashes stay, even before a quote.
      {R"("a\"b c)", {R"(a\b)", "c"}},
      {R"(pro"gram name"x arg)", {"program namex", "arg"}},
      {" leading", {"", "leading"}},
      {"p a   ", {"p", "a"}},
      {"", {""}},
      // A shell would see commands here; the program sees plain arguments.
      {R"(p $(rm x); echo `id` | cat > f)",
       {"p", "$(rm", "x);", "echo", "`id`", "|", "cat", ">", "f"}},
      {std::string("p a\0b", 5), {"p", "a"}},
  };
  for (const Split& row : table)
    EXPECT_EQ(platform::posix::SplitCommandLine(row.commandLine), row.arguments)
        << "command line: [" << row.commandLine << "]";
}

}  // namespace
