// Case-blind comparison on Windows: the C runtime's multibyte comparison.
#include "platform/strings.h"

#include <mbstring.h>

namespace platform {

int CompareNoCase(const std::string& a, const std::string& b) noexcept {
  return ::_mbsicmp(reinterpret_cast<const unsigned char*>(a.c_str()),
                    reinterpret_cast<const unsigned char*>(b.c_str()));
}

}  // namespace platform

namespace platform {

std::string ToUpperCase(std::string_view text) {
  std::string upper(text);
  // _mbsupr_s works on the NUL-terminated buffer that std::string guarantees.
  ::_mbsupr_s(reinterpret_cast<unsigned char*>(upper.data()), upper.size() + 1);
  return upper;
}

}  // namespace platform
