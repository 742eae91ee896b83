// Whole-text regular-expression match that yields the first capture group.
#pragma once

#include <string>
#include <string_view>

namespace hvs {

// Compiles `pattern` (Perl syntax, case-sensitive) anew at each call and matches it against
// the whole of `text`. On a match returns capture group 1, empty when that group took no
// part; otherwise returns `text` unchanged. A pattern that does not compile, or a match too
// complex for the engine, counts as no match. Never throws a regex error.
std::string MatchFirstGroup(std::string_view pattern, std::string_view text);

}  // namespace hvs
