// Case-blind comparison on POSIX: ASCII letters fold, every other byte stands for itself.
#include "platform/strings.h"

namespace platform {

namespace {
// Independent of the locale, so that a process name compares the same everywhere.
int FoldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }
}  // namespace

int CompareNoCase(const std::string& a, const std::string& b) noexcept {
  const auto* left = reinterpret_cast<const unsigned char*>(a.c_str());
  const auto* right = reinterpret_cast<const unsigned char*>(b.c_str());
  for (;; ++left, ++right) {
    const int difference = FoldAscii(*left) - FoldAscii(*right);
    if (difference != 0 || *left == '\0') return difference;
  }
}

}  // namespace platform

namespace platform {

std::string ToUpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper;
}

}  // namespace platform
