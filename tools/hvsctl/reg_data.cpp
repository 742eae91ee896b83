// Conversions between registry value bytes and reg.exe's text forms.
#include "tools/hvsctl/reg_data.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

#include "platform/registry.h"
#include "platform/strings.h"

namespace hvsctl {

namespace {

constexpr std::string_view kListSeparator = "\\0";
constexpr std::uint32_t kRegQword = 11;

constexpr std::array<std::string_view, 12> kTypeNames = {
    "REG_NONE",
    "REG_SZ",
    "REG_EXPAND_SZ",
    "REG_BINARY",
    "REG_DWORD",
    "REG_DWORD_BIG_ENDIAN",
    "REG_LINK",
    "REG_MULTI_SZ",
    "REG_RESOURCE_LIST",
    "REG_FULL_RESOURCE_DESCRIPTOR",
    "REG_RESOURCE_REQUIREMENTS_LIST",
    "REG_QWORD",
};

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::string_view UpToNul(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }

std::string FormatList(std::string_view bytes) {
  std::string text;
  // The list ends at its first empty entry, as every reader of the list format stops there.
  for (bool first = true; !bytes.empty(); first = false) {
    const std::string_view entry = UpToNul(bytes);
    if (entry.empty()) break;
    if (!first) text += kListSeparator;
    text += entry;
    bytes.remove_prefix(std::min(bytes.size(), entry.size() + 1));
  }
  return text;
}

std::string Number(std::string_view littleEndian) {
  unsigned long long number = 0;
  for (auto byte = littleEndian.rbegin(); byte != littleEndian.rend(); ++byte)
    number = (number << 8) | static_cast<unsigned char>(*byte);
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", number);
  return text;
}

std::optional<std::string> EncodeList(std::string_view text) {
  std::string bytes;
  while (!text.empty()) {
    const auto separator = text.find(kListSeparator);
    const std::string_view entry = text.substr(0, separator);
    // An empty entry would end the list for every reader.
    if (entry.empty()) return std::nullopt;
    bytes.append(entry);
    bytes += '\0';
    if (separator == std::string_view::npos) break;
    text.remove_prefix(separator + kListSeparator.size());
    if (text.empty()) return std::nullopt;
  }
  bytes += '\0';
  return bytes;
}

std::optional<std::string> EncodeDword(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
  return bytes;
}

std::optional<std::string> EncodeBinary(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned byte = 0;
    const char* first = text.data() + i;
    const auto [end, error] = std::from_chars(first, first + 2, byte, 16);
    if (error != std::errc() || end != first + 2) return std::nullopt;
    bytes += static_cast<char>(byte);
  }
  return bytes;
}

}  // namespace

std::string TypeName(std::uint32_t type) {
  return type < kTypeNames.size() ? std::string(kTypeNames[type]) : "REG_UNKNOWN";
}

std::optional<std::uint32_t> ParseTypeName(std::string_view name) {
  for (const std::uint32_t type : {platform::kRegSz, platform::kRegExpandSz, platform::kRegMultiSz,
                                   platform::kRegBinary, platform::kRegDword}) {
    if (platform::CompareNoCase(std::string(name), std::string(kTypeNames[type])) == 0)
      return type;
  }
  return std::nullopt;
}

std::string FormatData(std::uint32_t type, std::string_view bytes) {
  switch (type) {
    case platform::kRegSz:
    case platform::kRegExpandSz: return std::string(UpToNul(bytes));
    case platform::kRegMultiSz: return FormatList(bytes);
    case platform::kRegDword:
      if (bytes.size() == 4) return Number(bytes);
      break;
    case kRegQword:
      if (bytes.size() == 8) return Number(bytes);
      break;
    default: break;
  }
  return Hex(bytes);
}

std::optional<std::string> EncodeData(std::uint32_t type, std::string_view text) {
  switch (type) {
    case platform::kRegSz:
    case platform::kRegExpandSz: return std::string(text) + '\0';
    case platform::kRegMultiSz: return EncodeList(text);
    case platform::kRegDword: return EncodeDword(text);
    case platform::kRegBinary: return EncodeBinary(text);
    default: return std::nullopt;
  }
}

}  // namespace hvsctl
