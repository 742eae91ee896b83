// A private state directory for one fuzzer process, so that its registry store is its own.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace fuzzsupport {

// Makes a fresh directory (in memory where /dev/shm exists: the store writes for every
// input) with `subdirectory` below it, points HVS_STATE_DIR at it before the store is
// first opened, and removes it when the process exits. Returns its path.
inline std::filesystem::path UsePrivateStateDirectory(const std::string& prefix,
                                                      const std::string& subdirectory) {
  static std::filesystem::path directory;
  std::error_code error;
  std::filesystem::path base = "/dev/shm";
  if (!std::filesystem::is_directory(base, error)) base = std::filesystem::temp_directory_path();
  std::random_device random;
  directory = base / (prefix + std::to_string(random()) + std::to_string(random()));
  std::filesystem::create_directories(directory / subdirectory);
  ::setenv("HVS_STATE_DIR", directory.c_str(), 1);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
  });
  return directory;
}

}  // namespace fuzzsupport
