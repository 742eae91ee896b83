// libFuzzer target: a Cron expression's parse and its next-time search, on arbitrary text.
//
// The first eight bytes give the wall time to search from (folded into 1970 to 2100), the
// rest is the expression. Properties: a text that does not parse says why; one that does
// describes itself, parses again from its own text to the same schedule, and its next
// match lies after the start, on a minute's first second, matches, and no minute between
// the start and it does (up to a thousand are checked). A search that never ends is caught
// by libFuzzer's time-out.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "tasks/cron_expression.h"
#include "tests/fuzz/fail.h"

namespace {

constexpr const char* kTarget = "cron_fuzz";
constexpr std::int64_t kLatestStart = 4'102'444'800;  // 2100-01-01 00:00

void Fail(const char* what) { fuzzsupport::Fail(kTarget, what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint64_t seed = 0;
  const std::size_t seedBytes = std::min<std::size_t>(size, sizeof seed);
  std::memcpy(&seed, data, seedBytes);
  const std::int64_t start = static_cast<std::int64_t>(seed % static_cast<std::uint64_t>(kLatestStart));
  const std::string_view text(reinterpret_cast<const char*>(data) + seedBytes, size - seedBytes);

  std::string error;
  const std::optional<hvs::CronExpression> cron = hvs::CronExpression::Parse(text, error);
  if (!cron) {
    if (error.empty()) Fail("a refused expression gives no reason");
    return 0;
  }
  if (cron->Describe().empty()) Fail("no words for a schedule");
  std::string again;
  const std::optional<hvs::CronExpression> reparsed = hvs::CronExpression::Parse(cron->Text(), again);
  if (!reparsed) Fail("its own text does not parse");

  const std::optional<std::int64_t> next = cron->NextMatchAfter(start);
  if (reparsed->NextMatchAfter(start) != next) Fail("its own text gives another next time");
  if (!next) return 0;
  if (*next <= start) Fail("the next time is not after the start");
  if (*next % 60 != 0) Fail("the next time is not a minute's first second");
  if (!cron->Matches(*next)) Fail("the next time does not match");
  const std::int64_t firstMinute = (start / 60 + 1) * 60;
  const std::int64_t checkedUpTo = std::min(*next, firstMinute + 1000 * 60);
  for (std::int64_t minute = firstMinute; minute < checkedUpTo; minute += 60)
    if (cron->Matches(minute)) Fail("a minute before the next time matches");
  if (cron->NextMatchAfter(*next - 1) != next) Fail("the search from just before gives another time");
  return 0;
}
