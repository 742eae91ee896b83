// Where the service framework's status records go: the service control manager, or a test's record.
#pragma once

#include "platform/services.h"

namespace hvs {

// Sends one status record for the service behind `handle`; true when it was accepted.
class StatusReporter {
 public:
  virtual ~StatusReporter() = default;
  virtual bool Send(platform::ServiceStatusHandle handle, const platform::ServiceStatus& status) = 0;
};

// The reporter every service uses unless told otherwise: the platform's SetServiceStatus.
StatusReporter& ServiceControlManagerReporter();

}  // namespace hvs
