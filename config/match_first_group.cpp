// MatchFirstGroup on Boost.Regex.
#include "config/match_first_group.h"

#include <boost/regex.hpp>

#include <cstddef>
#include <vector>

namespace hvs {

namespace {

// The expressions this thread compiled last. The service matches the same two patterns at
// every task start, and compiling them cost more than matching. Throws boost::regex_error
// for a pattern that does not compile, which is not kept.
const boost::regex& Compiled(std::string_view pattern) {
  constexpr std::size_t kKept = 4;
  struct Entry {
    std::string pattern;
    boost::regex expression;
  };
  thread_local std::vector<Entry> recent;
  for (const Entry& entry : recent)
    if (entry.pattern == pattern) return entry.expression;
  boost::regex expression(pattern.begin(), pattern.end());
  if (recent.size() == kKept) recent.erase(recent.begin());
  recent.push_back({std::string(pattern), std::move(expression)});
  return recent.back().expression;
}

}  // namespace

std::string MatchFirstGroup(std::string_view pattern, std::string_view text) {
  try {
    boost::match_results<std::string_view::const_iterator> groups;
    if (boost::regex_match(text.begin(), text.end(), groups, Compiled(pattern)))
      return groups.str(1);
  } catch (const boost::regex_error&) {
    // A bad pattern is thrown at compilation, a runaway backtrack at match time; both mean
    // the text is taken as it is.
  }
  return std::string(text);
}

}  // namespace hvs
