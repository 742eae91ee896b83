// The system's error texts on POSIX: Windows' own English wording, so both targets print alike.
#include "platform/error_text.h"

#include <algorithm>
#include <iterator>

namespace platform {

namespace {

struct ErrorText {
  Error code;
  const char* text;
};

// Every number the platform layer and the service framework report, in ascending order.
constexpr ErrorText kErrorTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {161, "The specified path is invalid."},
    {183, "Cannot create a file when that file already exists."},
    {193, "%1 is not a valid Win32 application."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {1016,
     "An I/O operation initiated by the registry failed unrecoverably. The registry could not "
     "read in, or write out, or flush, one of the files that contain the system's image of the "
     "registry."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1051,
     "A stop control has been sent to a service that other running services are dependent on."},
    {1052, "The requested control is not valid for this service."},
    {1053, "The service did not respond to the start or control request in a timely fashion."},
    {1054, "A thread could not be created for the service."},
    {1055, "The service database is locked."},
    {1056, "An instance of the service is already running."},
    {1057,
     "The account name is invalid or does not exist, or the password is invalid for the account "
     "name specified."},
    {1058,
     "The service cannot be started, either because it is disabled or because it has no enabled "
     "devices associated with it."},
    {1060, "The specified service does not exist as an installed service."},
    {1061, "The service cannot accept control messages at this time."},
    {1062, "The service has not been started."},
    {1063, "The service process could not connect to the service controller."},
    {1064, "An exception occurred in the service when handling the control request."},
    {1066, "The service has returned a service-specific error code."},
    {1067, "The process terminated unexpectedly."},
    {1069, "The service did not start due to a logon failure."},
    {1072, "The specified service has been marked for deletion."},
    {1073, "The specified service already exists."},
    {1083,
     "The executable program that this service is configured to run in does not implement the "
     "service."},
    {1460, "This operation returned because the timeout period expired."},
    {1921, "The name of the file cannot be resolved by the system."},
};

static_assert(std::is_sorted(std::begin(kErrorTexts), std::end(kErrorTexts),
                             [](const ErrorText& a, const ErrorText& b) { return a.code < b.code; }));

}  // namespace

std::string SystemErrorText(Error code) {
  const auto found =
      std::lower_bound(std::begin(kErrorTexts), std::end(kErrorTexts), code,
                       [](const ErrorText& entry, Error wanted) { return entry.code < wanted; });
  if (found == std::end(kErrorTexts) || found->code != code) return std::string();
  return std::string(found->text) + "\r\n";
}

}  // namespace platform
