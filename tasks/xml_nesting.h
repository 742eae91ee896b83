// How deeply the elements of a task file nest, found before the XML parser descends into them.
#pragma once

#include <cstddef>
#include <string>

namespace hvs {

// The parser takes a level of the call stack per open element, so a file nested deeply
// enough would overflow the service thread's stack. This scan reads `text` the way the
// parser does in its default mode (markup, comments, CDATA, declarations, quoted attribute
// values) without building anything. It returns the offset of the "<" of the first start
// tag that leaves more than `limit` elements open (an element written as <a/> opens
// none); npos when the elements never nest that deep. Where the text is malformed the
// scan stops: the parser rejects it at that point or earlier. `text` holds no NUL byte.
std::size_t FindTooDeepElement(const std::string& text, std::size_t limit);

}  // namespace hvs
