// `hvsctl events`: the POSIX event log, one line per event, oldest first.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace hvsctl {

// Lists every event of every log as one line of tab-separated fields:
//   TIME \t SOURCE \t TYPE \t ID [\t STRING]...
// TIME is local "YYYY-MM-DD HH:MM:SS", TYPE "Error", "Warning", "Information", "Audit
// Success", "Audit Failure" or the number, ID "0x" and eight upper-case hex digits, then
// one field per insertion string. In SOURCE and the strings a backslash, tab, CR and LF are
// written \\, \t, \r and \n and other control bytes \xHH, so that a line splits at its tabs.
// Takes no words ("/?" shows the usage). Returns 0, or 1 with "ERROR: ..." on `err`.
int RunEventsCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);

}  // namespace hvsctl
