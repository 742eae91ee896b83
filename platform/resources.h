// The program's resources: its string table and the texts of its event ids.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Entry `id` of the string table (resources/strings.def); empty when there is none. Windows
// reads the table of the running executable (LoadStringA), so every executable that links
// hvs_platform carries it; texts are cut at 4095 bytes.
std::string LoadResourceString(std::uint32_t id);

// The text that the event log shows for `eventId` of a source whose message file is
// `messageFile` (resources/events.def), without a line end: %1 to %99 are replaced by the
// insertion strings, "%%" by "%", and a reference beyond the strings is left as it is, as
// the event viewer shows it. Empty when the file has no text for the id. Windows reads the
// message table of the DLL `messageFile`; POSIX has no loadable message files and uses the
// program's own table for every source, whatever the file.
std::string EventMessageText(const std::string& messageFile, std::uint32_t eventId,
                             const std::vector<std::string>& inserts);

}  // namespace platform
