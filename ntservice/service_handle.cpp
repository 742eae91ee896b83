// ServiceHandle: the optional calls looked up once per handle.
#include "ntservice/service_handle.h"

namespace hvs {

using platform::OptionalServiceCall;

ServiceHandle::ServiceHandle() noexcept
    : hasQueryConfig2_(platform::HasOptionalServiceCall(OptionalServiceCall::QueryConfig2)),
      hasChangeConfig2_(platform::HasOptionalServiceCall(OptionalServiceCall::ChangeConfig2)),
      hasQueryStatusEx_(platform::HasOptionalServiceCall(OptionalServiceCall::QueryStatusEx)) {}

platform::Error ServiceHandle::SetDescription(const std::string& text) const {
  if (!hasChangeConfig2_) return platform::kCallNotImplemented;
  return service_.SetDescription(text);
}

}  // namespace hvs
