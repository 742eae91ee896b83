// The process arguments as the service framework reads them: switches, and the foreground list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ntservice/command_line_info.h"

namespace hvs {

// Hands every argument after the program path (index 0) to `info.ParseParameter`: an
// argument beginning with "-" or "/" is a switch and loses that one character; the last
// argument is marked as such.
void ParseArgumentList(const std::vector<std::string>& arguments, CServiceShellCommandLineInfo& info);

// `arguments` without the switches that chose the foreground run ("-debug", "/debug",
// "-app", "/app", "-application", "/application", "-console", "/console", in any case);
// everything else, the program path included, stays in its order.
std::vector<std::string> ForegroundArguments(const std::vector<std::string>& arguments);

// A C-style argument list that owns its words: data()[count()] is null.
class ArgumentList {
 public:
  explicit ArgumentList(std::vector<std::string> words);
  ArgumentList(const ArgumentList&) = delete;
  ArgumentList& operator=(const ArgumentList&) = delete;

  std::uint32_t count() const noexcept { return static_cast<std::uint32_t>(words_.size()); }
  char** data() noexcept { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

}  // namespace hvs
