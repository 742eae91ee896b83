// ServiceHandle: one open service and the optional calls the system offers for it.
#pragma once

#include <string>

#include "platform/error.h"
#include "platform/service_manager.h"

namespace hvs {

// Holds one open service; replacing or destroying the holder closes it. Which of the
// optional calls "QueryServiceConfig2A", "ChangeServiceConfig2A" and
// "QueryServiceStatusEx" the system has is looked up once, at construction.
class ServiceHandle {
 public:
  ServiceHandle() noexcept;

  platform::Service& service() noexcept { return service_; }
  const platform::Service& service() const noexcept { return service_; }
  bool IsOpen() const noexcept { return service_.IsOpen(); }
  void Close() noexcept { service_.Close(); }

  bool HasQueryConfig2() const noexcept { return hasQueryConfig2_; }
  bool HasChangeConfig2() const noexcept { return hasChangeConfig2_; }
  bool HasQueryStatusEx() const noexcept { return hasQueryStatusEx_; }

  // Sets the service's description; 120 when the system lacks "ChangeServiceConfig2A".
  platform::Error SetDescription(const std::string& text) const;

 private:
  platform::Service service_;
  bool hasQueryConfig2_ = false;
  bool hasChangeConfig2_ = false;
  bool hasQueryStatusEx_ = false;
};

}  // namespace hvs
