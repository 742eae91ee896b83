// REG_MULTI_SZ string lists in the registry: an event log's sources, a service's profile lists.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/registry.h"

namespace hvs {

// Reads value `name` of `key` as a list: asks its size, reads that many bytes and splits
// them at NULs until an empty string (or the end of the data). Another type than
// REG_MULTI_SZ is 13; a missing value 2; a value that grew between the two reads 234. The
// list is emptied first and stays empty on failure.
platform::Error ReadStringList(const platform::RegistryKey& key, std::string_view name,
                               std::vector<std::string>& list);

// Writes `list` as REG_MULTI_SZ: every entry followed by a NUL, then one more NUL, the size
// being the sum of the entry lengths plus one per entry plus one. An entry ends at its first
// NUL; an empty entry ends the list for every reader.
platform::Error WriteStringList(const platform::RegistryKey& key, std::string_view name,
                                const std::vector<std::string>& list);

}  // namespace hvs
