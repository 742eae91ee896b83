// A clock that tells the time a test sets; watcher threads may read it while the test sets it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace testsupport {

class FakeClock : public platform::Clock {
 public:
  explicit FakeClock(std::int64_t now = platform::CurrentTime()) : now_(now) {}
  std::int64_t Now() const override { return now_; }
  void Set(std::int64_t now) { now_ = now; }
  void Advance(std::int64_t seconds) { now_ += seconds; }

 private:
  std::atomic<std::int64_t> now_;
};

}  // namespace testsupport
