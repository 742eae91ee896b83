// AutoResetEvent: one set ends one wait, at once, from any thread; the time-out is kept.
#include <gtest/gtest.h>

#include <thread>

#include "platform/auto_reset_event.h"
#include "platform/clock.h"

namespace {

using platform::AutoResetEvent;

TEST(AutoResetEvent, ASetBeforeTheWaitEndsItAtOnceAndOnlyThatOne) {
  AutoResetEvent event;
  ASSERT_EQ(event.Create(), platform::kSuccess);
  ASSERT_EQ(event.Set(), platform::kSuccess);
  ASSERT_EQ(event.Set(), platform::kSuccess);  // two sets before a wait count once
  const std::uint32_t start = platform::TickCount();
  EXPECT_TRUE(event.Wait(60'000));
  EXPECT_LT(platform::TickCount() - start, 60'000u);
  EXPECT_FALSE(event.Wait(50));
  EXPECT_GE(platform::TickCount() - start, 50u);
  EXPECT_FALSE(event.Wait(0));
}

TEST(AutoResetEvent, ASetFromAnotherThreadEndsAWaitUnderWay) {
  AutoResetEvent event;
  ASSERT_EQ(event.Create(), platform::kSuccess);
  std::thread setter([&] { event.Set(); });
  EXPECT_TRUE(event.Wait(60'000));  // a minute is a failure; the set ends it within moments
  setter.join();
}

TEST(AutoResetEvent, NeverCreatedItCannotBeSetAndAWaitLastsItsTime) {
  AutoResetEvent event;
  EXPECT_FALSE(event.IsOpen());
  EXPECT_EQ(event.Set(), platform::kInvalidHandle);
  const std::uint32_t start = platform::TickCount();
  EXPECT_FALSE(event.Wait(30));
  EXPECT_GE(platform::TickCount() - start, 30u);
}

}  // namespace
