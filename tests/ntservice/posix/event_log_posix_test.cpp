// The POSIX event log: every event is a row of eventlog.db with the fields it was written with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ntservice/event_source.h"
#include "platform/clock.h"
#include "platform/eventlog.h"
#include "platform/posix/event_store.h"
#include "tests/ntservice/event_log_fixture.h"
#include "tests/support/child_role.h"

namespace {

using platform::posix::event_store::EventRecord;
using Strings = std::vector<std::string>;

std::vector<EventRecord> AllEvents() {
  std::vector<EventRecord> events;
  EXPECT_EQ(platform::kSuccess, platform::posix::event_store::ReadAll(events));
  return events;
}

// The rows written by `source` since the test began, oldest first.
std::vector<EventRecord> EventsOf(const std::string& source) {
  std::vector<EventRecord> mine;
  for (auto& event : AllEvents())
    if (event.source == source) mine.push_back(std::move(event));
  return mine;
}

class EventLogRows : public testsupport::ScratchEventLog {
 protected:
  std::string source_ = "HvsTest source " + std::to_string(platform::TickCount());
};

TEST_F(EventLogRows, AReportedEventIsARowWithItsFields) {
  hvs::EventSource events;
  events.sourceName = source_;
  const std::int64_t before = platform::CurrentTime();
  ASSERT_TRUE(events.ReportErrorWithNumber(0xC000000E, "5, Access is denied.\r\n", 1));
  ASSERT_TRUE(events.Report(platform::kEventWarning, 0x80000010, {}));
  ASSERT_TRUE(events.Report(platform::kEventInformation, 0x40000001, {""}));
  ASSERT_TRUE(events.ReportErrorCode(0xC000000B, -1062));
  const std::int64_t after = platform::CurrentTime();

  const auto rows = EventsOf(source_);
  ASSERT_EQ(4u, rows.size());
  for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_LT(rows[i - 1].record, rows[i].record);
  for (const auto& row : rows) {
    EXPECT_LE(before, row.time);
    EXPECT_GE(after, row.time);
    EXPECT_EQ("Application", row.log);
    EXPECT_EQ(0, row.category);
  }
  EXPECT_EQ(platform::kEventError, rows[0].type);
  EXPECT_EQ(0xC000000Eu, rows[0].eventId);
  EXPECT_EQ((Strings{"5, Access is denied.\r\n", "1"}), rows[0].strings);
  EXPECT_EQ(platform::kEventWarning, rows[1].type);
  EXPECT_EQ(0x80000010u, rows[1].eventId);
  EXPECT_EQ(Strings{}, rows[1].strings);
  EXPECT_EQ(platform::kEventInformation, rows[2].type);
  EXPECT_EQ(Strings{""}, rows[2].strings);
  EXPECT_EQ(platform::kEventError, rows[3].type);
  EXPECT_EQ(Strings{"-1062"}, rows[3].strings);
}

TEST_F(EventLogRows, ASourceInstalledUnderAnotherLogWritesToThatLog) {
  platform::Error error = 0;
  ASSERT_TRUE(hvs::InstallEventSource("/opt/zav/ZAVPluginService.DLL", source_, logName(), error));
  hvs::EventSource events;
  events.sourceName = source_;
  ASSERT_TRUE(events.Report(platform::kEventInformation, 0x40000002, {source_}));

  // Registered after the removal, the same name falls back to the Application log.
  ASSERT_TRUE(hvs::RemoveEventSource(logName(), source_, error));
  ASSERT_TRUE(events.Report(platform::kEventInformation, 0x40000003, {source_}));

  const auto rows = EventsOf(source_);
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(logName(), rows[0].log);
  EXPECT_EQ("Application", rows[1].log);
}

TEST_F(EventLogRows, ConcurrentReportsAreAllKept) {
  hvs::EventSource events;
  events.sourceName = source_;
  constexpr int kPerThread = 25;
  std::vector<std::thread> threads;
  for (int thread = 0; thread < 2; ++thread) {
    threads.emplace_back([&events, thread] {
      for (int i = 0; i < kPerThread; ++i)
        events.Report(platform::kEventInformation, 0x40000004,
                      {std::to_string(thread), std::to_string(i)});
    });
  }
  for (auto& thread : threads) thread.join();

  const auto rows = EventsOf(source_);
  ASSERT_EQ(2u * kPerThread, rows.size());
  int next[2] = {0, 0};
  for (const auto& row : rows) {
    ASSERT_EQ(2u, row.strings.size());
    const int thread = std::stoi(row.strings[0]);
    // Each thread's events keep the order in which that thread wrote them.
    EXPECT_EQ(std::to_string(next[thread]++), row.strings[1]);
  }
}

TEST(EventLogFile, IsReadableAndWritableByItsOwnerOnly) {
  hvs::EventSource events;
  events.sourceName = "HvsTest mode";
  ASSERT_TRUE(events.Report(platform::kEventInformation, 0x40000001, {"x"}));
  namespace fs = std::filesystem;
  const fs::path file = fs::path(std::getenv("HVS_STATE_DIR")) / "eventlog.db";
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write,
            fs::status(file).permissions() & fs::perms::all);
}

// Events are few: the store is opened for each, and its journal files go when it closes.
TEST(EventLogFile, IsHeldOpenOnlyWhileAnEventIsWritten) {
  hvs::EventSource events;
  events.sourceName = "HvsTest closed";
  ASSERT_TRUE(events.Report(platform::kEventInformation, 0x40000001, {"x"}));
  const std::filesystem::path state(std::getenv("HVS_STATE_DIR"));
  EXPECT_FALSE(std::filesystem::exists(state / "eventlog.db-shm"));
  EXPECT_FALSE(std::filesystem::exists(state / "eventlog.db-wal"));
}

TEST(EventLogRegistration, ARemoteServerIsNotOffered) {
  platform::EventSourceHandle handle;
  EXPECT_EQ(platform::kCallNotImplemented, handle.Register("otherhost", "HvsTest"));
  EXPECT_FALSE(handle.IsOpen());
  EXPECT_EQ(platform::kInvalidHandle, handle.Report(platform::kEventInformation, 0, 1, {}));
}

// Writes the events that tests/e2e/hvsctl_events_test.sh expects `hvsctl events` to show.
const bool kSampleEvents = testsupport::RegisterChildRole("report-sample-events", [](const std::string&) {
  hvs::EventSource events;
  events.sourceName = "ZAV Server Plugin Service";
  bool written = events.Report(platform::kEventInformation, 0x40000001, {"ZAV Server Plugin Service"});
  written &= events.ReportErrorWithNumber(0xC000000E, "5, Access is denied.\r\n", 1);
  written &= events.Report(platform::kEventWarning, 0x80000010, {"tab\there", "back\\slash", ""});
  events.sourceName = "Other Source";
  written &= events.Report(platform::kEventInformation, 0x40000009, {});
  return written ? 0 : 1;
});

}  // namespace
