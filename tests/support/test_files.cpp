// Whole-file helpers for tests that are the same on every platform.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/test_env.h"

namespace testsupport {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  EXPECT_TRUE(out.good()) << "cannot write " << path;
}

std::vector<std::string> LogMessages(const std::string& path) {
  std::vector<std::string> messages;
  if (!FileExists(path)) return messages;
  const std::string text = ReadFile(path);
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find("\r\n", start);
    const std::string line = text.substr(start, end - start);
    const std::size_t stamped = line.find("] ");
    messages.push_back(stamped == std::string::npos ? line : line.substr(stamped + 2));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return messages;
}

}  // namespace testsupport
