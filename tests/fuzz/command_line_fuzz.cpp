// libFuzzer target: SplitCommandLine on arbitrary text, and back from arguments.
//
// Properties: the text ends at its first NUL; the split gives a program name and arguments
// without NUL; quoting the split arguments as the C runtime expects and splitting again
// gives them back; and the input read as NUL-separated arguments (no quote in the program
// name, which cannot hold one) survives the same quoting and splitting.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/command_line.h"
#include "tests/fuzz/fail.h"

namespace {

constexpr const char* kTarget = "command_line_fuzz";

using Arguments = std::vector<std::string>;

// One argument quoted so that the C runtime reads it back as it is: a run of backslashes
// doubled before a quote (and before the closing quote), each quote escaped.
void AppendQuoted(std::string_view argument, std::string& line) {
  line += '"';
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      line.append(2 * backslashes + 1, '\\');
    } else {
      line.append(backslashes, '\\');
    }
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, '\\');
  line += '"';
}

// The program name in quotes (it knows no escapes), then each argument quoted.
std::string Join(const Arguments& arguments) {
  std::string line = "\"" + arguments.front() + "\"";
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    line += ' ';
    AppendQuoted(arguments[i], line);
  }
  return line;
}

void CheckRoundTrip(const Arguments& arguments, const char* what) {
  if (platform::posix::SplitCommandLine(Join(arguments)) != arguments)
    fuzzsupport::Fail(kTarget, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Arguments split = platform::posix::SplitCommandLine(text);
  if (split.empty()) fuzzsupport::Fail(kTarget, "no program name");
  for (const std::string& argument : split)
    if (argument.find('\0') != std::string::npos) fuzzsupport::Fail(kTarget, "a NUL in an argument");
  if (text.find('\0') != std::string_view::npos &&
      platform::posix::SplitCommandLine(text.substr(0, text.find('\0'))) != split)
    fuzzsupport::Fail(kTarget, "the text goes on after its NUL");
  CheckRoundTrip(split, "the quoted split differs from the split");

  Arguments pieces;
  for (std::size_t at = 0;;) {
    const std::size_t end = text.find('\0', at);
    pieces.emplace_back(text.substr(at, end - at));
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  std::erase(pieces.front(), '"');
  CheckRoundTrip(pieces, "arguments quoted and split differ");
  return 0;
}
