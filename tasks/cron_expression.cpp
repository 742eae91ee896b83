// Parsing crontab(5) fields into bit sets, the search for the next matching minute, the words.
#include "tasks/cron_expression.h"

#include <bit>
#include <cctype>
#include <vector>

#include "tasks/wall_clock.h"

namespace hvs {

namespace {

constexpr std::int64_t kDay = 86400;
// Nine years hold every date that a schedule can name, 29 February included (2096, 2104).
constexpr int kSearchDays = 9 * 366;

constexpr const char* kMonthNames[] = {"January", "February", "March",     "April",
                                       "May",     "June",     "July",      "August",
                                       "September", "October", "November", "December"};
constexpr const char* kWeekdayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};
// In words the week starts on Monday, so that "Friday to Sunday" is one range.
constexpr const char* kWeekdaysFromMonday[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                               "Friday", "Saturday", "Sunday"};

struct FieldRule {
  const char* name;
  unsigned low;
  unsigned high;
  const char* const* names;  // the names of low, low + 1, ...; null when there are none
  unsigned nameCount;
};

constexpr FieldRule kMinute{"minute", 0, 59, nullptr, 0};
constexpr FieldRule kHour{"hour", 0, 23, nullptr, 0};
constexpr FieldRule kDayOfMonth{"day of month", 1, 31, nullptr, 0};
constexpr FieldRule kMonth{"month", 1, 12, kMonthNames, 12};
constexpr FieldRule kWeekday{"day of week", 0, 7, kWeekdayNames, 7};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// A number or a name of the field; the reason in `error` when it is neither.
bool ParseValue(std::string_view token, const FieldRule& rule, unsigned& value,
                std::string& error) {
  if (token.empty()) {
    error = "a value is missing";
    return false;
  }
  if (std::isdigit(static_cast<unsigned char>(token[0]))) {
    value = 0;
    for (const char c : token) {
      if (!std::isdigit(static_cast<unsigned char>(c))) {
        error = Quoted(token) + " is not a number";
        return false;
      }
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (value > 1000) break;
    }
  } else {
    bool found = false;
    for (unsigned i = 0; i < rule.nameCount && !found; ++i)
      if (EqualsIgnoringCase(token, std::string_view(rule.names[i]).substr(0, 3))) {
        value = rule.low + i;
        found = true;
      }
    if (!found) {
      error = Quoted(token) + (rule.names ? " is neither a number nor a name" : " is not a number");
      return false;
    }
  }
  if (value < rule.low || value > rule.high) {
    error = Quoted(token) + " is out of range " + std::to_string(rule.low) + "-" +
            std::to_string(rule.high);
    return false;
  }
  return true;
}

// One element of a list: `*`, `a` or `a-b`, the first and last with an optional `/step`.
bool ParseElement(std::string_view element, const FieldRule& rule, std::uint64_t& bits,
                  std::string& error) {
  std::string_view range = element;
  unsigned step = 1;
  if (const auto slash = element.find('/'); slash != std::string_view::npos) {
    range = element.substr(0, slash);
    const std::string_view stepText = element.substr(slash + 1);
    const FieldRule stepRule{rule.name, 1, 1000, nullptr, 0};
    if (!ParseValue(stepText, stepRule, step, error)) {
      error = "step " + Quoted(stepText) + " is not a positive number";
      return false;
    }
  }
  unsigned first = rule.low;
  unsigned last = rule.high;
  if (range != "*") {
    const auto dash = range.find('-');
    if (!ParseValue(range.substr(0, dash), rule, first, error)) return false;
    if (dash == std::string_view::npos) {
      if (range.size() != element.size()) {
        error = "a step needs a range or *: " + Quoted(element);
        return false;
      }
      last = first;
    } else {
      if (!ParseValue(range.substr(dash + 1), rule, last, error)) return false;
      if (last < first) {
        error = "the range " + Quoted(range) + " runs backwards";
        return false;
      }
    }
  }
  for (unsigned value = first; value <= last; value += step) bits |= std::uint64_t{1} << value;
  return true;
}

bool ParseField(std::string_view field, const FieldRule& rule, std::uint64_t& bits,
                std::string& error) {
  bits = 0;
  for (std::size_t start = 0;;) {
    const std::size_t comma = field.find(',', start);
    const std::string_view element = field.substr(start, comma - start);
    if (element.empty()) {
      error = std::string(rule.name) + ": an element of the list is empty";
      return false;
    }
    if (!ParseElement(element, rule, bits, error)) {
      error = std::string(rule.name) + ": " + error;
      return false;
    }
    if (comma == std::string_view::npos) return true;
    start = comma + 1;
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  while (true) {
    while (at < text.size() && IsBlank(text[at])) ++at;
    if (at == text.size()) return fields;
    const std::size_t start = at;
    while (at < text.size() && !IsBlank(text[at])) ++at;
    fields.push_back(text.substr(start, at - start));
  }
}

std::uint64_t Range(unsigned first, unsigned last) {
  return ((std::uint64_t{2} << last) - 1) & ~((std::uint64_t{1} << first) - 1);
}

std::string Number(unsigned value) { return std::to_string(value); }
std::string TwoDigits(unsigned value) { return (value < 10 ? "0" : "") + std::to_string(value); }

// The set bits between `low` and `high` as a list: runs of three or more as "a-b" (names:
// "a to b"), others one by one.
std::string ListOf(std::uint64_t bits, unsigned low, unsigned high, const char* const* names) {
  const auto text = [&](unsigned value) {
    return names ? std::string(names[value - low]) : Number(value);
  };
  std::string list;
  for (unsigned value = low; value <= high;) {
    if (!(bits >> value & 1)) {
      ++value;
      continue;
    }
    unsigned end = value;
    while (end + 1 <= high && (bits >> (end + 1) & 1)) ++end;
    if (!list.empty()) list += ", ";
    if (end - value >= 2) {
      list += text(value) + (names ? " to " : "-") + text(end);
    } else {
      list += text(value);
      if (end > value) list += ", " + text(end);
    }
    value = end + 1;
  }
  return list;
}

std::string Plural(std::uint64_t bits, const char* one, const char* many) {
  return std::popcount(bits) == 1 ? one : many;
}

}  // namespace

std::optional<CronExpression> CronExpression::Parse(std::string_view text, std::string& error) {
  const std::vector<std::string_view> fields = SplitFields(text);
  if (fields.size() != 5) {
    error = "expected 5 fields (minute hour day-of-month month day-of-week), found " +
            std::to_string(fields.size());
    return std::nullopt;
  }
  CronExpression cron;
  const FieldRule* rules[] = {&kMinute, &kHour, &kDayOfMonth, &kMonth, &kWeekday};
  std::uint64_t bits[5];
  for (int i = 0; i < 5; ++i) {
    if (!ParseField(fields[i], *rules[i], bits[i], error)) return std::nullopt;
    if (i) cron.text_ += ' ';
    cron.text_ += fields[i];
  }
  cron.minutes_ = bits[0];
  cron.hours_ = static_cast<std::uint32_t>(bits[1]);
  cron.days_ = static_cast<std::uint32_t>(bits[2]);
  cron.months_ = static_cast<std::uint32_t>(bits[3]);
  // Weekday 7 is Sunday too.
  cron.weekdays_ = static_cast<std::uint32_t>((bits[4] | bits[4] >> 7) & 0x7f);
  cron.dayRestricted_ = fields[2][0] != '*';
  cron.weekdayRestricted_ = fields[4][0] != '*';
  return cron;
}

bool CronExpression::DayMatches(std::int64_t days) const {
  const CivilDate date = CivilFromDays(days);
  if (!(months_ >> date.month & 1)) return false;
  const bool day = days_ >> date.day & 1;
  const bool weekday = weekdays_ >> WeekdayOfDays(days) & 1;
  return dayRestricted_ && weekdayRestricted_ ? day || weekday : day && weekday;
}

bool CronExpression::Matches(std::int64_t wall) const {
  const std::int64_t days = FloorDivide(wall, kDay);
  const auto minuteOfDay = static_cast<unsigned>((wall - days * kDay) / 60);
  return DayMatches(days) && (hours_ >> (minuteOfDay / 60) & 1) &&
         (minutes_ >> (minuteOfDay % 60) & 1);
}

std::optional<std::int64_t> CronExpression::NextMatchAfter(std::int64_t wall) const {
  const std::int64_t start = (FloorDivide(wall, 60) + 1) * 60;
  std::int64_t days = FloorDivide(start, kDay);
  auto minuteOfDay = static_cast<unsigned>((start - days * kDay) / 60);
  for (int searched = 0; searched < kSearchDays; ++searched, ++days, minuteOfDay = 0) {
    if (!DayMatches(days)) continue;
    for (unsigned hour = minuteOfDay / 60; hour < 24; ++hour) {
      if (!(hours_ >> hour & 1)) continue;
      const unsigned from = hour == minuteOfDay / 60 ? minuteOfDay % 60 : 0;
      const std::uint64_t left = minutes_ >> from << from;
      if (left) return days * kDay + hour * 3600 + std::countr_zero(left) * 60;
    }
  }
  return std::nullopt;
}

std::string CronExpression::Describe() const {
  const bool everyMinute = minutes_ == Range(0, 59);
  const bool everyHour = hours_ == Range(0, 23);
  std::string words;
  if (std::popcount(minutes_) == 1 && !everyHour && std::popcount(hours_) <= 6) {
    const auto minute = static_cast<unsigned>(std::countr_zero(minutes_));
    words = "at ";
    for (unsigned hour = 0; hour < 24; ++hour)
      if (hours_ >> hour & 1)
        words += (words.size() > 3 ? ", " : "") + TwoDigits(hour) + ":" + TwoDigits(minute);
  } else if (everyMinute) {
    words = everyHour ? "every minute"
                      : "every minute of " + Plural(hours_, "hour ", "hours ") +
                            ListOf(hours_, 0, 23, nullptr);
  } else {
    words = "at " + Plural(minutes_, "minute ", "minutes ") + ListOf(minutes_, 0, 59, nullptr) +
            (everyHour ? " of every hour"
                       : " of " + Plural(hours_, "hour ", "hours ") + ListOf(hours_, 0, 23, nullptr));
  }
  const std::string days = Plural(days_, "day ", "days ") + ListOf(days_, 1, 31, nullptr) +
                           " of the month";
  const std::string weekdays =
      ListOf((weekdays_ >> 1) | (weekdays_ & 1) << 6, 0, 6, kWeekdaysFromMonday);
  const bool everyDay = days_ == Range(1, 31);
  const bool everyWeekday = weekdays_ == Range(0, 6);
  if (dayRestricted_ && weekdayRestricted_)
    words += " on " + days + " or on " + weekdays;
  else if (!everyDay && !everyWeekday)
    words += " on " + days + " that fall on " + weekdays;
  else if (!everyDay)
    words += " on " + days;
  else if (!everyWeekday)
    words += " on " + weekdays;
  if (months_ != Range(1, 12)) words += " in " + ListOf(months_, 1, 12, kMonthNames);
  return words;
}

}  // namespace hvs
