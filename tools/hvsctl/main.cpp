// hvsctl: the POSIX administration tool; the first word picks the command (reg, sc, events).
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/strings.h"
#include "tools/hvsctl/events_command.h"
#include "tools/hvsctl/reg_command.h"
#include "tools/hvsctl/sc_command.h"

namespace {

using Command = int (*)(const std::vector<std::string>& words, std::ostream& out,
                        std::ostream& err);

struct Entry {
  std::string_view name;
  Command run;
};

// A new command is one more line here.
constexpr Entry kCommands[] = {
    {"reg", &hvsctl::RunRegCommand},
    {"events", &hvsctl::RunEventsCommand},
    {"sc", &hvsctl::RunScCommand},
};

int Usage() {
  std::cerr << "ERROR: Invalid syntax.\nUsage: hvsctl COMMAND ...; commands:";
  for (const Entry& entry : kCommands) std::cerr << ' ' << entry.name;
  std::cerr << "\nType \"hvsctl COMMAND /?\" for a command's usage.\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  for (const Entry& entry : kCommands) {
    if (platform::CompareNoCase(argv[1], std::string(entry.name)) != 0) continue;
    try {
      const int code =
          entry.run(std::vector<std::string>(argv + 2, argv + argc), std::cout, std::cerr);
      std::cout.flush();
      return std::cout.good() ? code : 1;
    } catch (const std::exception& failure) {
      std::cerr << "ERROR: " << failure.what() << '\n';
      return 1;
    }
  }
  return Usage();
}
