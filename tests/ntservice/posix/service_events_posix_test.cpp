// The error events of removal and control, read back from the POSIX event log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/event_store.h"
#include "tests/ntservice/scm_fixture.h"

namespace {

using hvstest::ServiceControl;
using platform::Error;
using platform::posix::event_store::EventRecord;
using Strings = std::vector<std::string>;

std::vector<EventRecord> EventsOf(const std::string& source) {
  std::vector<EventRecord> all;
  EXPECT_EQ(platform::posix::event_store::ReadAll(all), 0u);
  std::vector<EventRecord> mine;
  for (auto& event : all)
    if (event.source == source) mine.push_back(std::move(event));
  return mine;
}

std::string EventText(Error error) {
  return std::to_string(error) + ", " + platform::SystemErrorText(error);
}

// Moves every framework event id, so that the test sees each pass through the hook.
class RenumberingShell : public hvstest::ScmShell {
 public:
  using ScmShell::ScmShell;
  std::uint32_t EventIdFor(std::uint32_t eventId) override { return eventId + 0x100; }
};

TEST_F(ServiceControl, FailedRemovalAndControlWriteErrorEventsWithTheirStrings) {
  RenumberingShell shell(name_, display_);
  shell.installCommandLine = hvstest::TestServiceCommand("slow");
  std::string text;
  Error error = 0;
  EXPECT_FALSE(shell.Uninstall(text, error, 0));  // not installed yet
  ASSERT_TRUE(shell.Install(text, error)) << text;
  StartService();
  // The slow service is still stopping when a wait of 0 ms looks, and refuses a second
  // stop request while it does.
  EXPECT_FALSE(shell.SetServiceToStatus(hvs::CServiceShell::kOperationStop, error, 0, 50));
  EXPECT_EQ(error, platform::kTimeout);
  EXPECT_FALSE(shell.SetServiceToStatus(hvs::CServiceShell::kOperationStop, error, 0, 50));
  EXPECT_EQ(error, platform::kServiceCannotAcceptControl);

  const auto events = EventsOf(display_);
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].eventId, 0xC0000107u);
  EXPECT_EQ(events[0].type, platform::kEventError);
  EXPECT_EQ(events[0].strings, Strings{EventText(platform::kServiceDoesNotExist)});
  EXPECT_EQ(events[1].eventId, 0x40000102u);
  EXPECT_EQ(events[1].type, platform::kEventInformation);
  EXPECT_EQ(events[1].strings, Strings{display_});
  EXPECT_EQ(events[2].eventId, 0xC000010Eu);
  EXPECT_EQ(events[2].strings, (Strings{EventText(platform::kTimeout), "1"}));
  EXPECT_EQ(events[3].eventId, 0xC000010Bu);
  EXPECT_EQ(events[3].strings, Strings{"1061"});
}

}  // namespace
