// A service program for the installation and control tests; its first argument names its behaviour.
//
//   plain        stops as soon as it is asked to
//   slow         takes three seconds to stop
//   unstoppable  accepts no stop request and ends by itself two seconds after its start
//   lingering    stops when asked, but its service thread goes on for a second after the
//                stopped report; the program then writes to the file its second argument
//                names whether that thread had finished when the dispatcher returned
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
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
        unstoppable_(std::strcmp(behaviour, "unstoppable") == 0),
        lingering_(std::strcmp(behaviour, "lingering") == 0) {
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
  // The stopped report lets the system's dispatcher return; the object is still in use.
  void ServiceMain(std::uint32_t argc, char** argv) override {
    CServiceShell::ServiceMain(argc, argv);
    if (!lingering_) return;
    std::this_thread::sleep_for(1s);
    threadFinished = true;
  }

  void OnPause() override { ReportState(platform::kServicePaused, 0, 0, kUnchanged); }
  void OnContinue() override { ReportState(platform::kServiceRunning, 0, 0, kUnchanged); }

  std::atomic<bool> threadFinished{false};  // set by a lingering service thread at its end

 private:
  const bool slow_;
  const bool unstoppable_;
  const bool lingering_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopRequested_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  TestService service(argc > 1 ? argv[1] : "plain");
  platform::Error error = platform::kSuccess;
  const bool ran = service.RunUnderDispatcher(error);
  if (argc > 2) std::ofstream(argv[2]) << (service.threadFinished ? "finished" : "still running");
  return ran ? 0 : static_cast<int>(error);
}
