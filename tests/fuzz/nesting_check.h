// The nesting check compared with the depth of every document that RapidXML accepts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <rapidxml/rapidxml.hpp>
#include <string>
#include <utility>
#include <vector>

#include "tasks/xml_nesting.h"
#include "tests/fuzz/fail.h"

namespace fuzzsupport {

// Deepest element level of a parsed document, walked without recursion.
inline std::size_t DepthOf(const rapidxml::xml_document<char>& document) {
  std::size_t deepest = 0;
  std::vector<std::pair<const rapidxml::xml_node<char>*, std::size_t>> pending = {{&document, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    for (auto* child = node->first_node(); child; child = child->next_sibling()) {
      if (child->type() != rapidxml::node_element) continue;
      if (depth + 1 > deepest) deepest = depth + 1;
      pending.emplace_back(child, depth + 1);
    }
  }
  return deepest;
}

// Whenever the parser accepts a text, the nesting check must agree with its depth; aborts
// naming `target` when it does not.
inline void CheckNesting(const std::uint8_t* data, std::size_t size, const char* target) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(std::strlen(text.c_str()));
  // Spares the unguarded parse below a stack overflow when run with a large -max_len.
  if (hvs::FindTooDeepElement(text, 1024) != std::string::npos) return;

  std::string parsed = text;
  rapidxml::xml_document<char> document;
  try {
    document.parse<0>(parsed.data());
  } catch (const rapidxml::parse_error&) {
    return;
  }
  // The check counts open elements; the deepest element may be written as <a/> and open
  // nothing, its parent always opened one.
  const std::size_t depth = DepthOf(document);
  if (hvs::FindTooDeepElement(text, depth) != std::string::npos)
    Fail(target, "nesting overcounted");
  if (depth > 1 && hvs::FindTooDeepElement(text, depth - 2) == std::string::npos)
    Fail(target, "nesting undercounted");
}

}  // namespace fuzzsupport
