// The twenty substitution variables read from the neighbouring products' registry keys.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/settings_store.h"
#include "log/log_file.h"

namespace hvs {

// Where one variable's value comes from. An empty `keyPath` makes the variable computed:
// its value is the full substitution of `defaultValue`. Otherwise the value is the
// registry text (`defaultValue` when absent or empty), reduced to capture group 1 of
// `pattern` when `extractHost` is set.
struct VariableDefinition {
  std::string keyPath;
  std::string valueName;
  std::string defaultValue;
  std::string pattern;
  bool secret = false;
  bool extractHost = false;
};

// Upper bound on the stored bytes that one substitution takes into its full text, nested
// expansions included (twice the longest command line Windows accepts). Stored values can
// refer to each other many times over, so their expansion may otherwise grow exponentially.
inline constexpr std::size_t kMaxExpandedBytes = 64 * 1024;

// What the log shows in place of a secret.
inline constexpr std::string_view kMaskedText = "*****";

// Names map to definitions and to current values; both compare names byte by byte, so
// names are case-sensitive. Only reads the registry. Used from the service thread only.
class VariableTable {
 public:
  // Neither argument is owned; both must outlive the table. Reads every value once.
  VariableTable(const MachineValueSource& settings, LogFile& log);

  // Re-reads every variable in a fixed order. Each value replaces the old one at once, so
  // the computed "SOAPURL" sees the "ZAVHOST" of this refresh and the "LMHTTP" of the last.
  void Refresh();

  // Replaces each %NAME% of `input`. Returns the full text, in which registry values are
  // expanded again and secret and computed ones (stored expanded) are taken as stored.
  // `display` is overwritten with the form for the log: secrets as "*****", empty values as
  // "<BLANK>", a computed value in its display form (see DisplayValue), other values as
  // stored.
  // Undefined names and an unclosed "%" are logged and kept in both texts. A reference to a
  // variable whose expansion is already under way, or one beyond kMaxExpandedBytes, stays
  // as "%NAME%" in the full text without a log line. Never fails towards the caller.
  std::string Substitute(std::string input, std::string& display);

  const std::map<std::string, VariableDefinition>& definitions() const { return definitions_; }
  const std::map<std::string, std::string>& values() const { return values_; }
  // What the log shows of a computed variable: its value, expanded as it is stored, with
  // every secret in it as "*****", so that a password reached through a stored reference
  // ("SOAPURL" through "LMHTTP") stays hidden. Empty for other names and before the value
  // is formed.
  std::string DisplayValue(const std::string& name) const;
  // Each value that the display form hides, with what it shows instead: every secret's
  // value with "*****", and every computed value that differs from its display form with
  // that form. Empty values are left out.
  std::vector<std::pair<std::string, std::string>> MaskedValues() const;

 private:
  // `name` is a key of definitions_ (it is kept as a view while the value is formed).
  void Resolve(const std::string& name, const VariableDefinition& definition);
  // Appends the substitution of `text` to `full`, its display form to `display` and, with
  // `masked`, the full text once more with the secrets as "*****"; null forms are skipped.
  void ExpandInto(std::string_view text, std::string& full, std::string* display,
                  std::string* masked);
  void AppendReference(const std::string& name, std::string& full, std::string* display,
                       std::string* masked);
  // Full substitution of `text`, with `name` (a key of one of the maps) marked as under way;
  // `masked` as for ExpandInto.
  std::string ExpandAs(std::string_view name, const std::string& text, std::string* masked);
  bool InProgress(std::string_view name) const;
  bool TakeFromBudget(std::size_t bytes);

  const MachineValueSource& settings_;
  LogFile& log_;
  const std::map<std::string, VariableDefinition>& definitions_;
  std::map<std::string, std::string> values_;
  std::map<std::string, std::string> displayValues_;  // of the computed variables only

  // State of the outermost Substitute under way, shared by its nested calls.
  std::vector<std::string_view> inProgress_;  // map keys, never erased
  std::size_t depth_ = 0;
  std::size_t expandedBytes_ = 0;
};

}  // namespace hvs
