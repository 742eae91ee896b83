// The process-wide stop event, shared between its holder and the watchers waiting on it.
#include "tasks/stop_event.h"

#include <mutex>

namespace hvs {

namespace {

// The program entry creates the event on the main thread and the service thread sets it,
// so the holder is guarded, although each operation runs only a few times in a run.
struct Holder {
  std::mutex lock;
  std::shared_ptr<platform::ManualResetEvent> event;
};

Holder& TheHolder() {
  static Holder holder;
  return holder;
}

}  // namespace

platform::Error CreateStopEvent(const std::string& name) {
  auto event = std::make_shared<platform::ManualResetEvent>();
  const platform::Error error = event->Create(name);
  Holder& holder = TheHolder();
  const std::lock_guard<std::mutex> guard(holder.lock);
  holder.event = error == platform::kSuccess ? std::move(event) : nullptr;
  return error;
}

platform::Error SetStopEvent() {
  Holder& holder = TheHolder();
  const std::lock_guard<std::mutex> guard(holder.lock);
  return holder.event ? holder.event->Set() : platform::kInvalidHandle;
}

void CloseStopEvent() {
  Holder& holder = TheHolder();
  const std::lock_guard<std::mutex> guard(holder.lock);
  holder.event.reset();
}

std::shared_ptr<const platform::ManualResetEvent> CurrentStopEvent() {
  Holder& holder = TheHolder();
  const std::lock_guard<std::mutex> guard(holder.lock);
  return holder.event;
}

}  // namespace hvs
