// The REG_MULTI_SZ list format: NUL-terminated entries, then an empty one.
#include "ntservice/string_list.h"

#include <algorithm>
#include <cstring>

namespace hvs {

platform::Error ReadStringList(const platform::RegistryKey& key, std::string_view name,
                               std::vector<std::string>& list) {
  list.clear();
  std::uint32_t type = platform::kRegNone;
  std::uint32_t size = 0;
  if (platform::Error error = key.QueryValue(name, &type, nullptr, &size)) return error;
  if (type != platform::kRegMultiSz) return platform::kInvalidData;
  std::string data(size, '\0');
  if (platform::Error error = key.QueryValue(name, &type, data.data(), &size)) return error;
  if (type != platform::kRegMultiSz) return platform::kInvalidData;
  data.resize(size);

  for (std::size_t at = 0; at < data.size();) {
    const std::size_t end = std::min(data.find('\0', at), data.size());
    if (end == at) break;
    list.push_back(data.substr(at, end - at));
    at = end + 1;
  }
  return platform::kSuccess;
}

platform::Error WriteStringList(const platform::RegistryKey& key, std::string_view name,
                                const std::vector<std::string>& list) {
  std::string data;
  for (const auto& entry : list) {
    data.append(entry.c_str());
    data.push_back('\0');
  }
  data.push_back('\0');
  return key.SetValue(name, platform::kRegMultiSz, data.data(),
                      static_cast<std::uint32_t>(data.size()));
}

}  // namespace hvs
