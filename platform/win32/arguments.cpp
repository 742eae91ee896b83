// The process arguments on Windows: the C runtime's split of the command line.
#include "platform/arguments.h"

#include <stdlib.h>

namespace platform {

std::vector<std::string> ProcessArguments() {
  std::vector<std::string> arguments;
  if (__argv == nullptr) return arguments;
  for (int index = 0; index < __argc; ++index)
    arguments.emplace_back(__argv[index] != nullptr ? __argv[index] : "");
  return arguments;
}

}  // namespace platform
