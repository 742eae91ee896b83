// The fixed variable definitions, and reading their values from the registry.
#include "config/variable_table.h"

#include <array>

#include "config/match_first_group.h"
#include "platform/registry.h"

namespace hvs {

namespace {

constexpr std::string_view kDatabaseKey = "SOFTWARE\\Sorvane\\Meridel Server\\Database";
constexpr std::string_view kInstallerKey = "SOFTWARE\\Sorvane\\Meridel Server\\Installer";
constexpr std::string_view kPallodexKey = "SOFTWARE\\Sorvane\\Meridel Server\\Pallodex";
constexpr std::string_view kClientSettings = "SOFTWARE\\Sorvane\\MeridelClient\\Settings\\Client\\";

// Skips a lower-case "http://" or "https://"; the host runs up to the first ":".
constexpr std::string_view kHostPattern = R"re(^(?:https?:\/\/)?([^\:]*).*)re";

// The order shows in the values: SOAPURL is formed after ZAVHOST is read but before LMHTTP,
// so it takes the host of this refresh and the LMHTTP of the one before.
constexpr std::array<std::string_view, 20> kRefreshOrder = {
    "ZAVHOST",          "ZAVHTTP",         "DATABASEDSN",   "DATABASEPASSWORD",
    "DATABASEUSER",     "PROXYAUTODETECT", "PROXYPASSWORD", "PROXYPORT",
    "PROXYURL",         "PROXYUSER",       "REPORTINGDSN",  "REPORTINGPASSWORD",
    "REPORTINGUSERNAME", "SOAPHOST",       "SOAPPASSWORD",  "SOAPPORT",
    "SOAPURL",          "SOAPUSERNAME",    "SOAPUSESSL",    "LMHTTP"};

VariableDefinition Registry(std::string_view keyPath, std::string_view valueName,
                            std::string_view defaultValue = "", bool secret = false) {
  return {std::string(keyPath), std::string(valueName), std::string(defaultValue), "", secret,
          false};
}

VariableDefinition Secret(std::string_view keyPath, std::string_view valueName) {
  return Registry(keyPath, valueName, "", true);
}

VariableDefinition Computed(std::string_view templateText) {
  return Registry("", "", templateText);
}

VariableDefinition ClientSetting(std::string_view setting, std::string_view defaultValue = "",
                                 bool secret = false) {
  return Registry(std::string(kClientSettings) + std::string(setting), "value", defaultValue,
                  secret);
}

// Built once: every table shares the same fixed definitions.
const std::map<std::string, VariableDefinition>& Definitions() {
  static const std::map<std::string, VariableDefinition> definitions = {
      {"DATABASEDSN", Registry(kDatabaseKey, "DSN", "zav_svmeridel")},
      {"DATABASEUSER", Registry(kDatabaseKey, "User")},
      {"DATABASEPASSWORD", Secret(kDatabaseKey, "Password")},
      {"SOAPUSESSL", ClientSetting("_Lumisto_HTTPServer_UseSSLFlag", "0")},
      {"ZAVHOST",
       {std::string(kInstallerKey), "Hostname", "127.0.0.1", std::string(kHostPattern), false,
        true}},
      {"ZAVHTTP", Registry(kInstallerKey, "Hostname", "http://127.0.0.1:52311")},
      {"SOAPPORT", ClientSetting("_Lumisto_HTTPServer_PortNumber", "80")},
      {"LMHTTP", Registry(kReportsKeyPath, "LMHTTP", "http://%ZAVHOST%")},
      {"SOAPURL", Computed("%LMHTTP%/lumisto?wsdl")},
      {"SOAPUSERNAME", Registry(kReportsKeyPath, "SOAPUsername")},
      {"SOAPHOST", Registry(kReportsKeyPath, "SOAPHost", "%ZAVHOST%")},
      {"SOAPPASSWORD", Secret(kReportsKeyPath, "SOAPPassword")},
      {"REPORTINGDSN", Registry(kPallodexKey, "LocalDBDSN", "LocalZAVReportingServer")},
      {"REPORTINGUSERNAME", Registry(kPallodexKey, "Username")},
      {"REPORTINGPASSWORD", Secret(kPallodexKey, "Password")},
      {"PROXYURL", ClientSetting("_ZAVClient_Comm_ProxyServer")},
      {"PROXYPORT", ClientSetting("_ZAVClient_Comm_ProxyPort")},
      {"PROXYUSER", ClientSetting("_ZAVClient_Comm_ProxyUser")},
      {"PROXYPASSWORD", ClientSetting("_ZAVClient_Comm_ProxyPassword", "", true)},
      {"PROXYAUTODETECT", ClientSetting("_ZAVClient_Comm_ProxyAutoDetect")},
  };
  return definitions;
}

}  // namespace

VariableTable::VariableTable(const MachineValueSource& settings, LogFile& log)
    : settings_(settings), log_(log), definitions_(Definitions()) {
  Refresh();
}

void VariableTable::Refresh() {
  // Nineteen registry reads before every task run: as one batch they cost the store one
  // transaction instead of one per key opened and one per value read.
  const platform::RegistryReadBatch together;
  for (const std::string_view name : kRefreshOrder) {
    const auto entry = definitions_.find(std::string(name));
    if (entry != definitions_.end()) Resolve(entry->first, entry->second);
  }
}

std::string VariableTable::DisplayValue(const std::string& name) const {
  const auto shown = displayValues_.find(name);
  return shown != displayValues_.end() ? shown->second : std::string();
}

std::vector<std::pair<std::string, std::string>> VariableTable::MaskedValues() const {
  std::vector<std::pair<std::string, std::string>> masked;
  for (const auto& [name, definition] : definitions_) {
    const auto value = values_.find(name);
    if (value == values_.end() || value->second.empty()) continue;
    if (definition.secret) {
      masked.emplace_back(value->second, std::string(kMaskedText));
    } else if (definition.keyPath.empty()) {
      std::string shown = DisplayValue(name);
      if (shown != value->second) masked.emplace_back(value->second, std::move(shown));
    }
  }
  return masked;
}

void VariableTable::Resolve(const std::string& name, const VariableDefinition& definition) {
  std::string value;
  if (definition.keyPath.empty()) {
    // Marked as under way, so that a stored value that leads back here is not expanded again.
    std::string masked;
    value = ExpandAs(name, definition.defaultValue, &masked);
    displayValues_[name] = std::move(masked);
  } else {
    value = settings_.ReadMachineValue(definition.keyPath, definition.valueName,
                                       definition.defaultValue);
    if (definition.extractHost) value = MatchFirstGroup(definition.pattern, value);
  }
  values_[name] = std::move(value);
}

}  // namespace hvs
