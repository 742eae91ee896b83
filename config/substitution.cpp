// Substitute: %NAME% references replaced by the table's values, in a full and a display form.
#include "config/variable_table.h"

#include <algorithm>

namespace hvs {

namespace {

constexpr char kMarker = '%';
constexpr std::string_view kBlank = "<BLANK>";

// Holds one nesting level of Substitute for its lifetime, exceptions included.
class Nesting {
 public:
  explicit Nesting(std::size_t& depth) : depth_(depth) { ++depth_; }
  ~Nesting() { --depth_; }
  Nesting(const Nesting&) = delete;
  Nesting& operator=(const Nesting&) = delete;

 private:
  std::size_t& depth_;
};

// Marks one name as under way for its lifetime.
class Mark {
 public:
  Mark(std::vector<std::string_view>& marks, std::string_view name) : marks_(marks) {
    marks_.push_back(name);
  }
  ~Mark() { marks_.pop_back(); }
  Mark(const Mark&) = delete;
  Mark& operator=(const Mark&) = delete;

 private:
  std::vector<std::string_view>& marks_;
};

}  // namespace

std::string VariableTable::Substitute(std::string input, std::string& display) {
  display.clear();
  std::string full;
  ExpandInto(input, full, &display, nullptr);
  return full;
}

void VariableTable::ExpandInto(std::string_view text, std::string& full, std::string* display,
                               std::string* masked) {
  // Nested calls share the outermost call's budget.
  if (depth_ == 0) expandedBytes_ = 0;
  const Nesting nesting(depth_);
  const auto appendToAll = [&](std::string_view part) {
    full += part;
    if (display != nullptr) *display += part;
    if (masked != nullptr) *masked += part;
  };

  // Text between references is copied a run at a time, not a character at a time.
  for (std::size_t at = 0;;) {
    const std::size_t open = std::min(text.find(kMarker, at), text.size());
    appendToAll(text.substr(at, open - at));
    if (open == text.size()) return;
    const std::size_t close = text.find(kMarker, open + 1);
    if (close == std::string_view::npos) {
      const std::string tail(text.substr(open));
      log_.LogFormat("Incomplete substition beginning at: %s", tail.c_str());
      return appendToAll(tail);
    }
    AppendReference(std::string(text.substr(open + 1, close - open - 1)), full, display, masked);
    at = close + 1;
  }
}

void VariableTable::AppendReference(const std::string& name, std::string& full,
                                    std::string* display, std::string* masked) {
  // Kept as written: in every form, or (past the budget) in those that take the value.
  const auto keep = [&](bool inDisplay) {
    for (std::string* form : {&full, inDisplay ? display : nullptr, masked}) {
      if (form == nullptr) continue;
      *form += kMarker;
      *form += name;
      *form += kMarker;
    }
  };
  // Expanding it again could never end; the reference stays as written.
  if (InProgress(name)) return keep(true);
  const auto definition = definitions_.find(name);
  auto value = values_.find(name);
  if (value == values_.end() && definition != definitions_.end()) {
    Resolve(definition->first, definition->second);
    value = values_.find(name);
  }
  if (value == values_.end()) {
    log_.LogFormat("Variable %s not defined for substitution", name.c_str());
    return keep(true);
  }

  const std::string& stored = value->second;
  if (stored.empty()) {
    if (display != nullptr) *display += kBlank;
    return;
  }
  const bool secret = definition != definitions_.end() && definition->second.secret;
  // A computed value is stored expanded, secrets and all: the log takes its masked form.
  const bool computed = definition != definitions_.end() && definition->second.keyPath.empty();
  const std::string shown = computed ? DisplayValue(name) : std::string();
  if (display != nullptr)
    *display += secret ? kMaskedText : computed ? std::string_view(shown) : std::string_view(stored);
  if (!TakeFromBudget(stored.size())) {
    keep(false);
  } else if (secret || computed) {
    // A secret is never expanded. A computed value is expanded already: expanding it again
    // would read a "%" of the values in it (a password's) as a reference, and log its tail.
    full += stored;
    if (masked != nullptr) *masked += secret ? kMaskedText : std::string_view(shown);
  } else {
    // Only the outermost text has a display form: a nested one would be thrown away.
    const Mark mark(inProgress_, value->first);
    ExpandInto(stored, full, nullptr, masked);
  }
}

std::string VariableTable::ExpandAs(std::string_view name, const std::string& text,
                                    std::string* masked) {
  const Mark mark(inProgress_, name);
  std::string full;
  ExpandInto(text, full, nullptr, masked);
  return full;
}

bool VariableTable::InProgress(std::string_view name) const {
  return std::find(inProgress_.begin(), inProgress_.end(), name) != inProgress_.end();
}

bool VariableTable::TakeFromBudget(std::size_t bytes) {
  if (bytes > kMaxExpandedBytes - expandedBytes_) return false;
  expandedBytes_ += bytes;
  return true;
}

}  // namespace hvs
