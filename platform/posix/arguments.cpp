// The process arguments on POSIX, read back from the kernel's copy of them.
#include "platform/arguments.h"

#include <fstream>
#include <iterator>

namespace platform {

// The kernel keeps the argument words as they were executed, each ending in a NUL, so
// nothing has to be saved from main.
std::vector<std::string> ProcessArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string words((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  std::string::size_type start = 0;
  while (start < words.size()) {
    std::string::size_type end = words.find('\0', start);
    if (end == std::string::npos) end = words.size();
    arguments.emplace_back(words, start, end - start);
    start = end + 1;
  }
  return arguments;
}

}  // namespace platform
