// MatchFirstGroup on Boost.Regex.
#include "config/match_first_group.h"

#include <boost/regex.hpp>

namespace hvs {

std::string MatchFirstGroup(std::string_view pattern, std::string_view text) {
  try {
    const boost::regex expression(pattern.begin(), pattern.end());
    boost::match_results<std::string_view::const_iterator> groups;
    if (boost::regex_match(text.begin(), text.end(), groups, expression)) return groups.str(1);
  } catch (const boost::regex_error&) {
    // A bad pattern is thrown at compilation, a runaway backtrack at match time; both mean
    // the text is taken as it is.
  }
  return std::string(text);
}

}  // namespace hvs
