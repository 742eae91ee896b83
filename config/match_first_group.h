// Whole-text regular-expression match that yields the first capture group.
#pragma once

#include <string>
#include <string_view>

namespace hvs {

// Matches `pattern` (Perl syntax, case-sensitive) against the whole of `text`; the calling
// thread keeps the last few patterns compiled. On a match returns capture group 1, empty
// when that group took no part; otherwise returns `text` unchanged. A pattern that does
// not compile, or a match too complex for the engine, counts as no match. Never throws a
// regex error.
std::string MatchFirstGroup(std::string_view pattern, std::string_view text);

}  // namespace hvs
