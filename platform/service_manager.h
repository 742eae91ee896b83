// The client side of the service control manager: connect, lock, create, open, delete,
// start, control, query status and configuration, enumerate, describe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/services.h"
#include "platform/unique_any.h"

namespace platform {

// Access rights (the Win32 numbers).
inline constexpr std::uint32_t kScManagerConnect = 0x0001;
inline constexpr std::uint32_t kScManagerCreateService = 0x0002;
inline constexpr std::uint32_t kScManagerEnumerateService = 0x0004;
inline constexpr std::uint32_t kScManagerLock = 0x0008;
inline constexpr std::uint32_t kServiceQueryConfig = 0x0001;
inline constexpr std::uint32_t kServiceChangeConfig = 0x0002;
inline constexpr std::uint32_t kServiceQueryStatus = 0x0004;
inline constexpr std::uint32_t kServiceStart = 0x0010;
inline constexpr std::uint32_t kServiceStop = 0x0020;
inline constexpr std::uint32_t kServicePauseContinue = 0x0040;
inline constexpr std::uint32_t kServiceInterrogate = 0x0080;
inline constexpr std::uint32_t kDelete = 0x10000;

// Controls (the Win32 numbers).
inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlPause = 2;
inline constexpr std::uint32_t kControlContinue = 3;
inline constexpr std::uint32_t kControlInterrogate = 4;

// Types and start types.
inline constexpr std::uint32_t kServiceWin32 = 0x30;  // own and shared processes
inline constexpr std::uint32_t kServiceAutoStart = 2;
inline constexpr std::uint32_t kServiceDemandStart = 3;
inline constexpr std::uint32_t kServiceStateAll = 3;

// Errors of the service control manager.
inline constexpr Error kServiceRequestTimeoutError = 1053;
inline constexpr Error kServiceDatabaseLocked = 1055;
inline constexpr Error kServiceAlreadyRunning = 1056;
inline constexpr Error kServiceDoesNotExist = 1060;
inline constexpr Error kServiceCannotAcceptControl = 1061;
inline constexpr Error kServiceNotActiveError = 1062;
inline constexpr Error kServiceMarkedForDelete = 1072;
inline constexpr Error kServiceExists = 1073;
inline constexpr Error kProcessAborted = 1067;
inline constexpr Error kTimeout = 1460;

// A wait limit that leaves each call its own.
inline constexpr std::uint32_t kNoWaitLimitMs = 0xFFFFFFFF;

// What CreateService registers and QueryServiceConfig tells.
struct ServiceConfig {
  std::uint32_t serviceType = kServiceWin32OwnProcess;
  std::uint32_t startType = kServiceDemandStart;
  std::uint32_t errorControl = 0;
  std::string binaryPathName;
  std::string loadOrderGroup;              // empty: none
  std::vector<char> dependencies;          // each name + NUL, then NUL; empty: none
  std::string serviceStartName;            // account; empty: the default account
  std::string displayName;
};

struct ServiceStatusEntry {
  std::string serviceName;
  std::string displayName;
  ServiceStatus status;
};

// Calls that older systems' service library lacks. They are looked up by name in the
// library the process has already loaded ("ADVAPI32.DLL"; none is loaded for it); POSIX
// has them all.
enum class OptionalServiceCall { QueryConfig2, ChangeConfig2, QueryStatusEx };
bool HasOptionalServiceCall(OptionalServiceCall call) noexcept;

namespace detail {
void CloseServiceHandle(void* handle) noexcept;
void UnlockServiceDatabase(void* lock) noexcept;
}  // namespace detail

using UniqueServiceHandle = UniqueAny<void*, &detail::CloseServiceHandle>;

class Service;

// A lock on the service database; unlocked in the destructor. Move-only.
class ServiceDatabaseLock {
 public:
  bool IsLocked() const noexcept { return lock_.valid(); }
  void Unlock() noexcept { lock_.reset(); }

 private:
  friend class ServiceManager;
  UniqueAny<void*, &detail::UnlockServiceDatabase> lock_;
};

// A connection to the service control manager's "ServicesActive" database on this machine.
class ServiceManager {
 public:
  // OpenSCManagerA(nullptr, "ServicesActive", access).
  Error Connect(std::uint32_t access);
  bool IsConnected() const noexcept { return handle_.valid(); }
  void Disconnect() noexcept { handle_.reset(); }

  // LockServiceDatabase: 1055 while someone else holds it.
  Error Lock(ServiceDatabaseLock& lock) const;
  // CreateServiceA; `password` empty means none. 1073 when the name exists.
  Error CreateService(const std::string& name, const ServiceConfig& config,
                      const std::string& password, std::uint32_t access, Service& service) const;
  // OpenServiceA: 1060 when there is no such service.
  Error OpenService(const std::string& name, std::uint32_t access, Service& service) const;
  // EnumServicesStatusA over services of `type` in `state` (asks for the needed buffer).
  Error EnumerateServices(std::uint32_t type, std::uint32_t state,
                          std::vector<ServiceStatusEntry>& services) const;

  // The longest any one wait inside this connection's calls may take, in milliseconds
  // (kNoWaitLimitMs: the calls' own limits, at most 30 s); POSIX gives a request on its way
  // at least 1 s all the same. Services opened later take it over. POSIX only: Windows'
  // service control manager keeps its own limits.
  void SetWaitLimit(std::uint32_t milliseconds) noexcept { waitLimitMs_ = milliseconds; }

 private:
  UniqueServiceHandle handle_;
  std::uint32_t waitLimitMs_ = kNoWaitLimitMs;
};

// One open service. Move-only; the destructor closes the handle.
class Service {
 public:
  bool IsOpen() const noexcept { return handle_.valid(); }
  void Close() noexcept { handle_.reset(); }

  // StartServiceA with no arguments: 1056 when it runs already.
  Error Start() const;
  // ControlService: the service's answer, and its status afterwards (also on failure
  // where the system gives one).
  Error Control(std::uint32_t control, ServiceStatus& status) const;
  Error QueryStatus(ServiceStatus& status) const;
  // QueryServiceConfigA (asks for the needed buffer).
  Error QueryConfig(ServiceConfig& config) const;
  // DeleteService: the entry goes once every handle to it is closed.
  Error Delete() const;
  // ChangeServiceConfig2A with the description level; 120 where the system lacks it.
  Error SetDescription(const std::string& description) const;

  // The longest any one wait inside Start, Control and Delete may take, in milliseconds
  // (kNoWaitLimitMs: their own limits). POSIX only, as for ServiceManager.
  void SetWaitLimit(std::uint32_t milliseconds) noexcept { waitLimitMs_ = milliseconds; }

  void* native() const noexcept { return handle_.get(); }

 private:
  friend class ServiceManager;
  UniqueServiceHandle handle_;
  std::uint32_t waitLimitMs_ = kNoWaitLimitMs;
};

}  // namespace platform
