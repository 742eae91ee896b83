// Substitute: %NAME% references replaced by the table's values, in a full and a display form.
#include "config/variable_table.h"

#include <algorithm>

namespace hvs {

namespace {

constexpr char kMarker = '%';
constexpr std::string_view kBlank = "<BLANK>";
constexpr std::string_view kMasked = "*****";

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
      }
    } else if (!inName) {
      name.clear();
      inName = true;
    } else {
      AppendReference(name, result, display);
      inName = false;
    }
  }
  if (inName) {
    const std::string tail = kMarker + name;
    log_.LogFormat("Incomplete substition beginning at: %s", tail.c_str());
    display += tail;
    result += tail;
  }
  return result;
}

void VariableTable::AppendReference(const std::string& name, std::string& result,
                                    std::string& display) {
  const std::string reference = kMarker + name + kMarker;
  // Expanding it again could never end; the reference stays as written.
  if (InProgress(name)) {
    result += reference;
    display += reference;
    return;
  }
  const auto definition = definitions_.find(name);
  auto value = values_.find(name);
  if (value == values_.end() && definition != definitions_.end()) {
    Resolve(definition->first, definition->second);
    value = values_.find(name);
  }
  if (value == values_.end()) {
    log_.LogFormat("Variable %s not defined for substitution", name.c_str());
    result += reference;
    display += reference;
    return;
  }

  const std::string& stored = value->second;
  if (stored.empty()) {
    display += kBlank;
    return;
  }
  const bool secret = definition != definitions_.end() && definition->second.secret;
  display += secret ? kMasked : std::string_view(stored);
  if (!TakeFromBudget(stored.size())) {
    result += reference;
  } else if (secret) {
    result += stored;
  } else {
    result += ExpandAs(value->first, stored);
  }
}

std::string VariableTable::ExpandAs(std::string_view name, std::string text) {
  const Mark mark(inProgress_, name);
  std::string scratch;
  return Substitute(std::move(text), scratch);
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
