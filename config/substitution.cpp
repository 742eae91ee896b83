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
  return Expand(input, display, nullptr);
}

std::string VariableTable::Expand(const std::string& input, std::string& display,
                                  std::string* masked) {
  display.clear();
  // Nested calls share the outermost call's budget.
  if (depth_ == 0) expandedBytes_ = 0;
  const Nesting nesting(depth_);

  std::string result;
  std::string name;
  bool inName = false;
  for (const char c : input) {
    if (c != kMarker) {
      if (inName) {
        name += c;
      } else {
        display += c;
        result += c;
        if (masked != nullptr) *masked += c;
      }
    } else if (!inName) {
      name.clear();
      inName = true;
    } else {
      AppendReference(name, result, display, masked);
      inName = false;
    }
  }
  if (inName) {
    const std::string tail = kMarker + name;
    log_.LogFormat("Incomplete substition beginning at: %s", tail.c_str());
    display += tail;
    result += tail;
    if (masked != nullptr) *masked += tail;
  }
  return result;
}

void VariableTable::AppendReference(const std::string& name, std::string& result,
                                    std::string& display, std::string* masked) {
  const std::string reference = kMarker + name + kMarker;
  // Kept as written, in every form.
  const auto keep = [&] {
    result += reference;
    display += reference;
    if (masked != nullptr) *masked += reference;
  };
  // Expanding it again could never end; the reference stays as written.
  if (InProgress(name)) return keep();
  const auto definition = definitions_.find(name);
  auto value = values_.find(name);
  if (value == values_.end() && definition != definitions_.end()) {
    Resolve(definition->first, definition->second);
    value = values_.find(name);
  }
  if (value == values_.end()) {
    log_.LogFormat("Variable %s not defined for substitution", name.c_str());
    return keep();
  }

  const std::string& stored = value->second;
  if (stored.empty()) {
    display += kBlank;
    return;
  }
  const bool secret = definition != definitions_.end() && definition->second.secret;
  // A computed value is stored expanded, secrets and all: the log takes its masked form.
  const bool computed = definition != definitions_.end() && definition->second.keyPath.empty();
  const std::string shown = computed ? DisplayValue(name) : std::string();
  display += secret ? kMaskedText : computed ? std::string_view(shown) : std::string_view(stored);
  if (!TakeFromBudget(stored.size())) {
    result += reference;
    if (masked != nullptr) *masked += reference;
  } else if (secret || computed) {
    // A secret is never expanded. A computed value is expanded already: expanding it again
    // would read a "%" of the values in it (a password's) as a reference, and log its tail.
    result += stored;
    if (masked != nullptr) *masked += secret ? kMaskedText : std::string_view(shown);
  } else {
    std::string nestedMasked;
    result += ExpandAs(value->first, stored, masked != nullptr ? &nestedMasked : nullptr);
    if (masked != nullptr) *masked += nestedMasked;
  }
}

std::string VariableTable::ExpandAs(std::string_view name, const std::string& text,
                                    std::string* masked) {
  const Mark mark(inProgress_, name);
  std::string scratch;
  return Expand(text, scratch, masked);
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
