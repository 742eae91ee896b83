// The nesting scan: the XML parser's own lexical rules, walked without recursion.
#include "tasks/xml_nesting.h"

#include <cstring>
#include <rapidxml/rapidxml.hpp>

namespace hvs {

namespace {

// The parser's own character classes, so that the scan splits the text exactly as it does.
using Classes = rapidxml::internal::lookup_tables<0>;

bool IsWhitespace(char c) { return Classes::lookup_whitespace[static_cast<unsigned char>(c)]; }
bool IsNameChar(char c) { return Classes::lookup_node_name[static_cast<unsigned char>(c)]; }
bool IsAttributeNameChar(char c) {
  return Classes::lookup_attribute_name[static_cast<unsigned char>(c)];
}

template <typename Predicate>
const char* SkipWhile(const char* p, Predicate predicate) {
  while (predicate(*p)) ++p;
  return p;
}

// Past the first `end` at or after `p`; null when the text ends first.
const char* SkipPast(const char* p, const char* end) {
  const char* found = std::strstr(p, end);
  return found ? found + std::strlen(end) : nullptr;
}

// Past the ">" of a DOCTYPE, stepping over its bracketed internal subset.
const char* SkipDoctype(const char* p) {
  for (;; ++p) {
    if (*p == '\0') return nullptr;
    if (*p == '>') return p + 1;
    if (*p != '[') continue;
    for (int depth = 1; depth > 0;) {
      ++p;
      if (*p == '\0') return nullptr;
      if (*p == '[') ++depth;
      if (*p == ']') --depth;
    }
  }
}

// `p` is just past "<!" or "<?": past the end of that markup, or null.
const char* SkipSpecial(const char* p) {
  if (*p == '?') return SkipPast(p + 1, "?>");
  if (std::strncmp(p, "!--", 3) == 0) return SkipPast(p + 3, "-->");
  if (std::strncmp(p, "![CDATA[", 8) == 0) return SkipPast(p + 8, "]]>");
  if (std::strncmp(p, "!DOCTYPE", 8) == 0 && IsWhitespace(p[8])) return SkipDoctype(p + 9);
  return SkipPast(p + 1, ">");
}

// `p` is just past the "<" of an element: past its attributes, at ">" or "/>", or null.
const char* SkipStartTag(const char* p) {
  const char* name = p;
  p = SkipWhile(p, IsNameChar);
  if (p == name) return nullptr;
  p = SkipWhile(p, IsWhitespace);
  while (IsAttributeNameChar(*p)) {
    p = SkipWhile(p + 1, IsAttributeNameChar);
    p = SkipWhile(p, IsWhitespace);
    if (*p != '=') return nullptr;
    p = SkipWhile(p + 1, IsWhitespace);
    const char quote = *p;
    if (quote != '\'' && quote != '"') return nullptr;
    p = std::strchr(p + 1, quote);
    if (p == nullptr) return nullptr;
    p = SkipWhile(p + 1, IsWhitespace);
  }
  return p;
}

}  // namespace

std::size_t FindTooDeepElement(const std::string& text, std::size_t limit) {
  const char* p = text.c_str();
  if (text.starts_with("\xEF\xBB\xBF")) p += 3;
  std::size_t depth = 0;
  while (p != nullptr) {
    p = SkipWhile(p, IsWhitespace);
    if (*p == '\0') break;
    if (*p != '<') {
      if (depth == 0) break;  // text outside the root element
      p = std::strchr(p, '<');
      continue;
    }
    const char* open = p++;
    if (*p == '/') {
      if (depth == 0) break;
      p = SkipWhile(SkipWhile(p + 1, IsNameChar), IsWhitespace);
      if (*p != '>') break;
      ++p;
      --depth;
    } else if (*p == '!' || *p == '?') {
      p = SkipSpecial(p);
    } else if ((p = SkipStartTag(p)) == nullptr) {
      break;
    } else if (*p == '>') {
      ++p;
      if (++depth > limit) return static_cast<std::size_t>(open - text.c_str());
    } else if (p[0] == '/' && p[1] == '>') {
      p += 2;
    } else {
      break;
    }
  }
  return std::string::npos;
}

}  // namespace hvs
