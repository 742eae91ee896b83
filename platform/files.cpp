// The parts of the file interface that need no system call.
#include "platform/files.h"

namespace platform {

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  path += PathSeparator();
  path += name;
  return path;
}

}  // namespace platform
