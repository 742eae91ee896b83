// The client side of the service control manager on Windows: the real SCM calls.
#include "platform/service_manager.h"

#include <windows.h>
// The interface's member names; the calls themselves are named with their A suffix here.
#undef CreateService
#undef OpenService

#include <string>

namespace platform {

namespace {

SC_HANDLE Native(void* handle) noexcept { return static_cast<SC_HANDLE>(handle); }

Error LastError() noexcept { return static_cast<Error>(::GetLastError()); }

// Empty texts mean "none" to the calls that take optional names.
const char* OrNull(const std::string& text) noexcept {
  return text.empty() ? nullptr : text.c_str();
}

const char* OptionalCallName(OptionalServiceCall call) noexcept {
  switch (call) {
    case OptionalServiceCall::QueryConfig2: return "QueryServiceConfig2A";
    case OptionalServiceCall::ChangeConfig2: return "ChangeServiceConfig2A";
    case OptionalServiceCall::QueryStatusEx: return "QueryServiceStatusEx";
  }
  return nullptr;
}

// Only a library the process has loaded already: looking must not load one.
void* FindServiceCall(const char* name) noexcept {
  const HMODULE library = ::GetModuleHandleA("ADVAPI32.DLL");
  return library != nullptr ? reinterpret_cast<void*>(::GetProcAddress(library, name)) : nullptr;
}

using ChangeServiceConfig2Call = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);

ServiceStatus FromNative(const SERVICE_STATUS& record) noexcept {
  ServiceStatus status;
  status.serviceType = record.dwServiceType;
  status.currentState = record.dwCurrentState;
  status.controlsAccepted = record.dwControlsAccepted;
  status.win32ExitCode = record.dwWin32ExitCode;
  status.serviceSpecificExitCode = record.dwServiceSpecificExitCode;
  status.checkPoint = record.dwCheckPoint;
  status.waitHint = record.dwWaitHint;
  return status;
}

std::string TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

// A double-NUL-terminated list, its final NUL included; empty when it has no entries.
std::vector<char> NameList(const char* list) {
  std::vector<char> block;
  if (list == nullptr || *list == '\0') return block;
  const char* end = list;
  while (*end != '\0') end += std::char_traits<char>::length(end) + 1;
  block.assign(list, end + 1);
  return block;
}

// Controls whose refusal still tells the service's current status.
bool RefusalCarriesStatus(Error error) noexcept {
  return error == ERROR_INVALID_SERVICE_CONTROL || error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL ||
         error == ERROR_SERVICE_NOT_ACTIVE;
}

}  // namespace

namespace detail {
void CloseServiceHandle(void* handle) noexcept { ::CloseServiceHandle(Native(handle)); }
void UnlockServiceDatabase(void* lock) noexcept { ::UnlockServiceDatabase(static_cast<SC_LOCK>(lock)); }
}  // namespace detail

bool HasOptionalServiceCall(OptionalServiceCall call) noexcept {
  const char* name = OptionalCallName(call);
  return name != nullptr && FindServiceCall(name) != nullptr;
}

Error ServiceManager::Connect(std::uint32_t access) {
  handle_.reset(::OpenSCManagerA(nullptr, SERVICES_ACTIVE_DATABASEA, access));
  return handle_ ? kSuccess : LastError();
}

Error ServiceManager::Lock(ServiceDatabaseLock& lock) const {
  const SC_LOCK locked = ::LockServiceDatabase(Native(handle_.get()));
  if (locked == nullptr) return LastError();
  lock.lock_.reset(locked);
  return kSuccess;
}

Error ServiceManager::CreateService(const std::string& name, const ServiceConfig& config,
                                    const std::string& password, std::uint32_t access,
                                    Service& service) const {
  const SC_HANDLE created = ::CreateServiceA(
      Native(handle_.get()), name.c_str(), config.displayName.c_str(), access, config.serviceType,
      config.startType, config.errorControl, config.binaryPathName.c_str(),
      OrNull(config.loadOrderGroup), nullptr,
      config.dependencies.empty() ? nullptr : config.dependencies.data(),
      OrNull(config.serviceStartName), OrNull(password));
  if (created == nullptr) return LastError();
  service.handle_.reset(created);
  return kSuccess;
}

Error ServiceManager::OpenService(const std::string& name, std::uint32_t access,
                                  Service& service) const {
  const SC_HANDLE opened = ::OpenServiceA(Native(handle_.get()), name.c_str(), access);
  if (opened == nullptr) return LastError();
  service.handle_.reset(opened);
  return kSuccess;
}

Error ServiceManager::EnumerateServices(std::uint32_t type, std::uint32_t state,
                                        std::vector<ServiceStatusEntry>& services) const {
  services.clear();
  DWORD needed = 0;
  DWORD count = 0;
  DWORD resume = 0;
  std::vector<ENUM_SERVICE_STATUSA> records;
  if (!::EnumServicesStatusA(Native(handle_.get()), type, state, nullptr, 0, &needed, &count,
                             &resume)) {
    const Error error = LastError();
    if (error != ERROR_MORE_DATA) return error;
    // Whole records, so that the texts behind them stay aligned.
    records.resize(needed / sizeof(ENUM_SERVICE_STATUSA) + 1);
    resume = 0;
    if (!::EnumServicesStatusA(Native(handle_.get()), type, state, records.data(),
                               static_cast<DWORD>(records.size() * sizeof records[0]), &needed,
                               &count, &resume))
      return LastError();
  }
  services.reserve(count);
  for (DWORD at = 0; at < count; ++at)
    services.push_back({TextOrEmpty(records[at].lpServiceName),
                        TextOrEmpty(records[at].lpDisplayName),
                        FromNative(records[at].ServiceStatus)});
  return kSuccess;
}

Error Service::Start() const {
  return ::StartServiceA(Native(handle_.get()), 0, nullptr) ? kSuccess : LastError();
}

Error Service::Control(std::uint32_t control, ServiceStatus& status) const {
  SERVICE_STATUS record{};
  if (::ControlService(Native(handle_.get()), control, &record)) {
    status = FromNative(record);
    return kSuccess;
  }
  const Error error = LastError();
  if (RefusalCarriesStatus(error)) status = FromNative(record);
  return error;
}

Error Service::QueryStatus(ServiceStatus& status) const {
  SERVICE_STATUS record{};
  if (!::QueryServiceStatus(Native(handle_.get()), &record)) return LastError();
  status = FromNative(record);
  return kSuccess;
}

Error Service::QueryConfig(ServiceConfig& config) const {
  DWORD needed = 0;
  if (::QueryServiceConfigA(Native(handle_.get()), nullptr, 0, &needed)) return kInvalidData;
  if (const Error error = LastError(); error != ERROR_INSUFFICIENT_BUFFER) return error;
  // Whole records, so that the texts behind the first one stay aligned.
  std::vector<QUERY_SERVICE_CONFIGA> buffer(needed / sizeof(QUERY_SERVICE_CONFIGA) + 1);
  if (!::QueryServiceConfigA(Native(handle_.get()), buffer.data(),
                             static_cast<DWORD>(buffer.size() * sizeof buffer[0]), &needed))
    return LastError();
  const QUERY_SERVICE_CONFIGA& record = buffer[0];
  config.serviceType = record.dwServiceType;
  config.startType = record.dwStartType;
  config.errorControl = record.dwErrorControl;
  config.binaryPathName = TextOrEmpty(record.lpBinaryPathName);
  config.loadOrderGroup = TextOrEmpty(record.lpLoadOrderGroup);
  config.dependencies = NameList(record.lpDependencies);
  config.serviceStartName = TextOrEmpty(record.lpServiceStartName);
  config.displayName = TextOrEmpty(record.lpDisplayName);
  return kSuccess;
}

Error Service::Delete() const {
  return ::DeleteService(Native(handle_.get())) ? kSuccess : LastError();
}

Error Service::SetDescription(const std::string& description) const {
  const auto change =
      reinterpret_cast<ChangeServiceConfig2Call>(FindServiceCall("ChangeServiceConfig2A"));
  if (change == nullptr) return kCallNotImplemented;
  SERVICE_DESCRIPTIONA record{const_cast<char*>(description.c_str())};
  return change(Native(handle_.get()), SERVICE_CONFIG_DESCRIPTION, &record) ? kSuccess
                                                                            : LastError();
}

}  // namespace platform
