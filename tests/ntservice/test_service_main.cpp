// A service program for the installation and control tests; its first argument names its behaviour.
//
//   plain        stops as soon as it is asked to
//   slow         takes three seconds to stop
//   unstoppable  accepts no stop request and ends by itself two seconds after its start
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "ntservice/service_shell.h"

namespace {

using namespace std::chrono_literals;

class TestService : public hvs::CServiceShell {
 public:
  explicit TestService(const char* behaviour)
      : CServiceShell("HvsTestService", "HVS Test Service", nullptr),
        slow_(std::strcmp(behaviour, "slow") == 0),
        unstoppable_(std::strcmp(behaviour, "unstoppable") == 0) {
    eventLogging = false;  // the tests look at states, not at events
  }

  void ServiceMainBody(std::uint32_t, char**) override {
    const std::uint32_t controls =
        unstoppable_ ? platform::kServiceAcceptPauseContinue
                     : platform::kServiceAcceptStop | platform::kServiceAcceptPauseContinue;
    ReportState(platform::kServiceRunning, 0, 0, controls);
    std::unique_lock<std::mutex> lock(mutex_);
    if (unstoppable_)
      wake_.wait_for(lock, 2s, [] { return false; });
    else
      wake_.wait(lock, [this] { return stopRequested_; });
    lock.unlock();
    ReportState(platform::kServiceStopPending, 1, 5000, kUnchanged);
    if (slow_) std::this_thread::sleep_for(3s);
  }

  void OnStop() override {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopRequested_ = true;
    wake_.notify_all();
  }
  void OnPause() override { ReportState(platform::kServicePaused, 0, 0, kUnchanged); }
  void OnContinue() override { ReportState(platform::kServiceRunning, 0, 0, kUnchanged); }

 private:
  const bool slow_;
  const bool unstoppable_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopRequested_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  TestService service(argc > 1 ? argv[1] : "plain");
  platform::Error error = platform::kSuccess;
  return service.RunUnderDispatcher(error) ? 0 : static_cast<int>(error);
}
