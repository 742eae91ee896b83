// `hvsctl reg`: reg.exe's query, add and delete over the POSIX registry store.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace hvsctl {

// Runs `reg` with the words after it, e.g. {"query", "HKLM\\SOFTWARE\\X", "/v", "Name"}:
//   query KEY [/v NAME | /ve] [/s]
//   add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
//   delete KEY [/v NAME | /ve] /f
// KEY is HKLM\... or HKEY_LOCAL_MACHINE\.... Writes reg.exe's output to `out` and one line
// "ERROR: ..." to `err` on failure. Returns the exit code: 0 on success, else 1. Without /f,
// add refuses to replace a value and delete refuses to run: there is no prompt to confirm.
int RunRegCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);

}  // namespace hvsctl
