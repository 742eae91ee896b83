// `hvsctl sc`: sc.exe's query and qc over the POSIX service control manager.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace hvsctl {

// Runs `sc` with the words after it:
//   query NAME   the service's status, as sc.exe prints it
//   qc NAME      the service's configuration, as sc.exe prints it
// A failure prints "[SC] <call> FAILED <code>:", a blank line and the system's text to `out`,
// as sc.exe does, and returns the code (the process status keeps its low eight bits).
// "/?" prints the usage; wrong words print it to `err` and return 1.
int RunScCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);

}  // namespace hvsctl
