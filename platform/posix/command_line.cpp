// The argument splitting of the Microsoft C runtime (the rules of its 2008 and later versions).
#include "platform/posix/command_line.h"

namespace platform::posix {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text.substr(0, text.find('\0'))) {}

  bool AtEnd() const { return position_ == text_.size(); }

  void SkipBlanks() {
    while (!AtEnd() && IsBlank(Peek())) ++position_;
  }

  // The program name must be a file name, so quoting is all it knows.
  std::string ProgramName() {
    std::string name;
    bool quoted = false;
    for (; !AtEnd() && (quoted || !IsBlank(Peek())); ++position_) {
      if (Peek() == '"') quoted = !quoted;
      else name += Peek();
    }
    return name;
  }

  std::string Argument() {
    std::string argument;
    bool quoted = false;
    while (!AtEnd() && (quoted || !IsBlank(Peek()))) {
      if (Peek() == '\\') {
        TakeBackslashes(argument);
      } else if (Peek() != '"') {
        argument += Peek();
        ++position_;
      } else if (quoted && Next() == '"') {
        argument += '"';
        position_ += 2;
      } else {
        quoted = !quoted;
        ++position_;
      }
    }
    return argument;
  }

 private:
  char Peek() const { return text_[position_]; }
  char Next() const { return position_ + 1 < text_.size() ? text_[position_ + 1] : '\0'; }

  // Backslashes are literal unless a quote follows them: then each pair gives one, and an
  // odd one out makes that quote literal. An even run leaves the quote to open or close.
  void TakeBackslashes(std::string& argument) {
    std::size_t count = 0;
    for (; !AtEnd() && Peek() == '\\'; ++position_) ++count;
    if (AtEnd() || Peek() != '"') {
      argument.append(count, '\\');
      return;
    }
    argument.append(count / 2, '\\');
    if (count % 2 == 1) {
      argument += '"';
      ++position_;
    }
  }

  std::string_view text_;
  std::size_t position_ = 0;
};

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  Scanner scanner(commandLine);
  std::vector<std::string> arguments{scanner.ProgramName()};
  for (scanner.SkipBlanks(); !scanner.AtEnd(); scanner.SkipBlanks())
    arguments.push_back(scanner.Argument());
  return arguments;
}

}  // namespace platform::posix
