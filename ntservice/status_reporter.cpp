// The status reporter that talks to the service control manager.
#include "ntservice/status_reporter.h"

namespace hvs {

namespace {

class PlatformReporter final : public StatusReporter {
 public:
  bool Send(platform::ServiceStatusHandle handle, const platform::ServiceStatus& status) override {
    return platform::SetServiceStatus(handle, status) == platform::kSuccess;
  }
};

}  // namespace

StatusReporter& ServiceControlManagerReporter() {
  static PlatformReporter reporter;
  return reporter;
}

}  // namespace hvs
