// The service control manager's client side on POSIX: registry entries, status files, sockets.
//
// There is no daemon: the registry store holds the entries, each service has a status file
// and a control socket, and the locks are flock'd files.
//
// Anybody may connect: what a caller may do is what the file modes of the state directory
// allow it (the store and the service files are owner-only), as on Windows the ACLs decide.
// The rights asked for are kept on each handle and checked by every operation (5).
// A service runs as the account recorded at installation when root starts it, else as the
// user who started it (see ResolveServiceAccount). Calls that only look write nothing, so
// that a store that cannot be written can still be queried and its services controlled.
#include "platform/service_manager.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "platform/posix/scm/control_channel.h"
#include "platform/posix/scm/scm_internal.h"
#include "platform/posix/scm/service_files.h"
#include "platform/posix/scm/service_launch.h"
#include "platform/posix/scm/service_registration.h"
#include "platform/posix/scm/service_status.h"
#include "platform/posix/state_dir.h"
#include "platform/registry.h"

namespace platform {

namespace registration = posix::service_registration;
namespace files = posix::service_files;
using registration::Presence;

namespace {

// The longest a dispatcher may take to answer, and the longest any wait inside a call.
constexpr std::chrono::milliseconds kAnswerTimeout{30000};
constexpr std::size_t kMaxServiceName = 256;
constexpr std::uint32_t kServiceDisabledStart = 4;
constexpr std::uint32_t kServiceUserDefinedControl = 0x100;
constexpr std::uint32_t kServiceActive = 1;
constexpr std::uint32_t kServiceInactive = 2;

// The object behind a handle of either kind.
enum class Kind { Manager, Service };
struct ScmObject {
  Kind kind = Kind::Manager;
  std::uint32_t access = 0;
  std::string name;  // services only: as the caller spelled it
};

struct LockObject {
  posix::UniqueFd file;
};

// Generic rights as Windows maps them for each kind of object.
std::uint32_t MapGeneric(std::uint32_t access, Kind kind) {
  const bool service = kind == Kind::Service;
  constexpr std::uint32_t kGenericRead = 0x80000000, kGenericWrite = 0x40000000,
                          kGenericExecute = 0x20000000, kGenericAll = 0x10000000,
                          kMaximumAllowed = 0x02000000;
  std::uint32_t mapped = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll |
                                    kMaximumAllowed);
  if (access & kGenericRead) mapped |= service ? 0x2008D : 0x20014;
  if (access & kGenericWrite) mapped |= service ? 0x20002 : 0x20022;
  if (access & kGenericExecute) mapped |= service ? 0x20170 : 0x20009;
  if (access & (kGenericAll | kMaximumAllowed)) mapped |= service ? 0xF01FF : 0xF003F;
  return mapped;
}

const ScmObject* ObjectOf(void* handle, Kind kind) {
  const auto* object = static_cast<const ScmObject*>(handle);
  return object != nullptr && object->kind == kind ? object : nullptr;
}

bool Allows(const ScmObject& object, std::uint32_t right) { return (object.access & right) == right; }

// The object behind `handle` when it is of `kind` and was opened with `right`: 6 when the
// handle is none or of the other kind, 5 when it lacks the right.
Error Checked(void* handle, Kind kind, std::uint32_t right, const ScmObject*& object) {
  object = ObjectOf(handle, kind);
  if (object == nullptr) return kInvalidHandle;
  return Allows(*object, right) ? kSuccess : kAccessDenied;
}

bool ValidName(const std::string& name) {
  return !name.empty() && name.size() <= kMaxServiceName &&
         name.find_first_of("\\/") == std::string::npos && name.find('\0') == std::string::npos;
}

ScmObject* NewService(const std::string& name, std::uint32_t access) {
  return new (std::nothrow) ScmObject{Kind::Service, MapGeneric(access, Kind::Service), name};
}

// The shorter of a call's own limit and the caller's, but never shorter than a request on
// its way needs: a short limit gives up on the wait for a state, not on the request.
constexpr std::chrono::milliseconds kShortestWait{1000};
std::chrono::milliseconds Bounded(std::chrono::milliseconds own, std::uint32_t limitMs) {
  if (limitMs == kNoWaitLimitMs) return own;
  return std::min(own, std::max(kShortestWait, std::chrono::milliseconds(limitMs)));
}

Error LockEntries(std::uint32_t limitMs, posix::UniqueFd& lock) {
  return files::LockFile(files::EntriesLockPath(), Bounded(kAnswerTimeout, limitMs), lock);
}

bool HasStopped(const std::string& name) {
  ServiceStatus status;
  return posix::CurrentStatus(files::StatusPath(name), status) == kSuccess &&
         status.currentState == kServiceStopped;
}

// The entry's presence; an entry marked for deletion whose service has stopped since
// (killed, so that it could not remove the entry itself) goes now. Call with the entries lock.
Error LookLocked(const std::string& name, Presence& presence) {
  if (const Error error = registration::Find(name, presence)) return error;
  if (presence == Presence::MarkedForDelete && HasStopped(name) &&
      registration::Remove(name) == kSuccess)
    presence = Presence::Absent;
  return kSuccess;
}

// The same without the entries lock held: it is taken only to remove such an entry, and a
// look that cannot take it (a store that cannot be written) sees the entry as marked.
Error Look(const std::string& name, std::uint32_t limitMs, Presence& presence) {
  if (const Error error = registration::Find(name, presence)) return error;
  if (presence != Presence::MarkedForDelete || !HasStopped(name)) return kSuccess;
  posix::UniqueFd entries;
  if (LockEntries(limitMs, entries) != kSuccess) return kSuccess;
  return LookLocked(name, presence);
}

// Which right a control needs, or 87 for one that ControlService cannot send.
Error RightForControl(std::uint32_t control, std::uint32_t& right) {
  if (control == kControlStop) right = kServiceStop;
  else if (control == kControlPause || control == kControlContinue || (control >= 6 && control <= 10))
    right = kServicePauseContinue;
  else if (control == kControlInterrogate) right = kServiceInterrogate;
  else if (control >= 128 && control <= 255) right = kServiceUserDefinedControl;
  else return kInvalidParameter;
  return kSuccess;
}

// Whether the service's latest report lets the control through: 1061 while it starts or
// stops, 1052 when it did not announce the control.
Error AcceptsControl(const ServiceStatus& status, std::uint32_t control) {
  if (status.currentState == kServiceStartPending || status.currentState == kServiceStopPending)
    return kServiceCannotAcceptControl;
  constexpr std::uint32_t kAcceptParamChange = 0x8, kAcceptNetBindChange = 0x10;
  std::uint32_t needed = 0;
  if (control == kControlStop) needed = kServiceAcceptStop;
  else if (control == kControlPause || control == kControlContinue) needed = kServiceAcceptPauseContinue;
  else if (control == 6) needed = kAcceptParamChange;
  else if (control >= 7 && control <= 10) needed = kAcceptNetBindChange;
  return (status.controlsAccepted & needed) == needed ? kSuccess : posix::kInvalidServiceControl;
}

}  // namespace

bool HasOptionalServiceCall(OptionalServiceCall /*call*/) noexcept { return true; }

namespace detail {
void CloseServiceHandle(void* handle) noexcept { delete static_cast<ScmObject*>(handle); }
void UnlockServiceDatabase(void* lock) noexcept { delete static_cast<LockObject*>(lock); }
}  // namespace detail

// --- The manager ---

Error ServiceManager::Connect(std::uint32_t access) {
  Disconnect();
  // The store must be there to be managed: its failure (e.g. 5) is the connection's. Opened,
  // not created: a store that cannot be written can still be queried.
  if (const Error error = posix::CheckStateDirectory()) return error;
  RegistryKey services;
  const Error opened =
      RegistryKey::LocalMachine().Open(registration::kServicesKey, kKeyRead, services);
  if (opened != kSuccess && opened != kFileNotFound) return opened;
  auto* object =
      new (std::nothrow) ScmObject{Kind::Manager, MapGeneric(access, Kind::Manager), {}};
  if (object == nullptr) return kNotEnoughMemory;
  handle_.reset(object);
  return kSuccess;
}

Error ServiceManager::Lock(ServiceDatabaseLock& lock) const {
  const ScmObject* manager = nullptr;
  if (const Error error = Checked(handle_.get(), Kind::Manager, kScManagerLock, manager))
    return error;
  auto* object = new (std::nothrow) LockObject;
  if (object == nullptr) return kNotEnoughMemory;
  if (const Error error =
          files::LockFile(files::DatabaseLockPath(), std::chrono::milliseconds(0), object->file)) {
    delete object;
    return error;
  }
  lock.lock_.reset(object);
  return kSuccess;
}

Error ServiceManager::CreateService(const std::string& name, const ServiceConfig& config,
                                    const std::string& /*password*/, std::uint32_t access,
                                    Service& service) const {
  const ScmObject* manager = nullptr;
  if (const Error error = Checked(handle_.get(), Kind::Manager, kScManagerCreateService, manager))
    return error;
  if (!ValidName(name)) return posix::kInvalidName;
  if (config.binaryPathName.empty() || config.startType > kServiceDisabledStart ||
      config.errorControl > 3 || (config.serviceType & kServiceWin32) == 0)
    return kInvalidParameter;
  ServiceConfig stored = config;
  if (stored.displayName.empty()) stored.displayName = name;

  posix::UniqueFd entries;
  if (const Error error = LockEntries(waitLimitMs_, entries)) return error;
  Presence presence = Presence::Absent;
  if (const Error error = LookLocked(name, presence)) return error;
  if (presence == Presence::MarkedForDelete) return kServiceMarkedForDelete;
  if (presence == Presence::Installed) return kServiceExists;
  // A process of an earlier service of this name that still runs keeps its files: a
  // start of the new one then finds it running instead of starting a second.
  ServiceStatus earlier;
  if (const Error error = posix::CurrentStatus(files::StatusPath(name), earlier)) return error;
  if (earlier.currentState != kServiceStopped) return kServiceAlreadyRunning;
  ScmObject* object = NewService(name, access);
  if (object == nullptr) return kNotEnoughMemory;
  files::RemoveServiceFiles(name);  // a status left by an earlier service of this name
  if (const Error error = registration::Write(name, stored)) {
    delete object;
    return error;
  }
  service.handle_.reset(object);
  return kSuccess;
}

Error ServiceManager::OpenService(const std::string& name, std::uint32_t access,
                                  Service& service) const {
  const ScmObject* manager = nullptr;  // opening a service asks for no right of the manager
  if (const Error error = Checked(handle_.get(), Kind::Manager, 0, manager)) return error;
  if (!ValidName(name)) return posix::kInvalidName;
  Presence presence = Presence::Absent;
  if (const Error error = Look(name, waitLimitMs_, presence)) return error;
  if (presence == Presence::Absent) return kServiceDoesNotExist;
  ScmObject* object = NewService(name, access);
  if (object == nullptr) return kNotEnoughMemory;
  service.handle_.reset(object);
  service.waitLimitMs_ = waitLimitMs_;
  return kSuccess;
}

Error ServiceManager::EnumerateServices(std::uint32_t type, std::uint32_t state,
                                        std::vector<ServiceStatusEntry>& services) const {
  services.clear();
  const ScmObject* manager = nullptr;
  if (const Error error = Checked(handle_.get(), Kind::Manager, kScManagerEnumerateService, manager))
    return error;
  if (state < kServiceActive || state > kServiceStateAll) return kInvalidParameter;
  std::vector<std::string> names;
  if (const Error error = registration::ListKeys(names)) return error;
  for (const std::string& name : names) {
    Presence presence = Presence::Absent;
    ServiceConfig config;
    if (Look(name, waitLimitMs_, presence) != kSuccess || presence == Presence::Absent ||
        registration::Read(name, config) != kSuccess || (config.serviceType & type) == 0)
      continue;
    ServiceStatusEntry found{name, config.displayName, {}};
    if (posix::CurrentStatus(files::StatusPath(name), found.status) != kSuccess) continue;
    const bool active = found.status.currentState != kServiceStopped;
    if ((active && (state & kServiceActive)) || (!active && (state & kServiceInactive)))
      services.push_back(std::move(found));
  }
  return kSuccess;
}

// --- One service ---

Error Service::Start() const {
  const ScmObject* service = nullptr;
  if (const Error error = Checked(handle_.get(), Kind::Service, kServiceStart, service))
    return error;
  // One start at a time: a second starter waits, then finds the service running.
  posix::UniqueFd starting;
  if (const Error error = files::LockFile(files::StartLockPath(service->name),
                                          Bounded(kAnswerTimeout, waitLimitMs_), starting))
    return error;
  // Held until the status says start pending, so that a removal meanwhile either comes
  // first (no entry to start) or finds the service running (and only marks the entry).
  posix::UniqueFd entries;
  if (const Error error = LockEntries(waitLimitMs_, entries)) return error;
  Presence presence = Presence::Absent;
  if (const Error error = LookLocked(service->name, presence)) return error;
  if (presence != Presence::Installed) return kServiceMarkedForDelete;
  ServiceConfig config;
  if (const Error error = registration::Read(service->name, config)) return error;
  if (config.startType == kServiceDisabledStart) return posix::kServiceDisabled;
  ServiceStatus status;
  if (const Error error = posix::CurrentStatus(files::StatusPath(service->name), status))
    return error;
  if (status.currentState != kServiceStopped) return kServiceAlreadyRunning;
  posix::ServiceAccount account;
  if (const Error error = posix::ResolveServiceAccount(config.serviceStartName, account))
    return error;
  return posix::LaunchService(service->name, config.binaryPathName, account,
                              Bounded(kAnswerTimeout, waitLimitMs_), entries);
}

Error Service::Control(std::uint32_t control, ServiceStatus& status) const {
  // The handle is checked before the control: 6 comes before 87.
  const ScmObject* service = ObjectOf(handle_.get(), Kind::Service);
  if (service == nullptr) return kInvalidHandle;
  std::uint32_t right = 0;
  if (const Error error = RightForControl(control, right)) return error;
  if (!Allows(*service, right)) return kAccessDenied;
  const std::string statusPath = files::StatusPath(service->name);
  if (const Error error = posix::CurrentStatus(statusPath, status)) return error;
  if (status.currentState == kServiceStopped) return kServiceNotActiveError;
  if (const Error error = AcceptsControl(status, control)) return error;

  posix::control_channel::Reply reply{};
  const Error sent = posix::control_channel::SendControl(
      files::SocketPath(service->name), control, Bounded(kAnswerTimeout, waitLimitMs_), reply);
  if (sent == kSuccess) {
    status = reply.status;
    return reply.answer;
  }
  // Nobody listened: either the service has just stopped, or it is on its way there.
  if (posix::CurrentStatus(statusPath, status) == kSuccess && sent == kServiceNotActiveError)
    return status.currentState == kServiceStopped ? kServiceNotActiveError
                                                  : kServiceCannotAcceptControl;
  return sent;
}

Error Service::QueryStatus(ServiceStatus& status) const {
  const ScmObject* service = nullptr;
  if (const Error error = Checked(handle_.get(), Kind::Service, kServiceQueryStatus, service))
    return error;
  return posix::CurrentStatus(files::StatusPath(service->name), status);
}

Error Service::QueryConfig(ServiceConfig& config) const {
  const ScmObject* service = nullptr;
  if (const Error error = Checked(handle_.get(), Kind::Service, kServiceQueryConfig, service))
    return error;
  const Error error = registration::Read(service->name, config);
  return error == kFileNotFound ? kServiceMarkedForDelete : error;
}

Error Service::Delete() const {
  const ScmObject* service = nullptr;
  if (const Error error = Checked(handle_.get(), Kind::Service, kDelete, service)) return error;
  posix::UniqueFd entries;
  if (const Error error = LockEntries(waitLimitMs_, entries)) return error;
  Presence presence = Presence::Absent;
  if (const Error error = LookLocked(service->name, presence)) return error;
  if (presence != Presence::Installed) return kServiceMarkedForDelete;
  ServiceStatus status;
  if (const Error error = posix::CurrentStatus(files::StatusPath(service->name), status))
    return error;
  // A running service keeps its entry until it stops; its dispatcher then removes it.
  if (status.currentState != kServiceStopped) return registration::MarkForDelete(service->name);
  return registration::Remove(service->name);
}

Error Service::SetDescription(const std::string& description) const {
  const ScmObject* service = nullptr;
  if (const Error error = Checked(handle_.get(), Kind::Service, kServiceChangeConfig, service))
    return error;
  Presence presence = Presence::Absent;
  if (const Error error = registration::Find(service->name, presence)) return error;
  if (presence != Presence::Installed) return kServiceMarkedForDelete;
  return registration::WriteDescription(service->name, description);
}

}  // namespace platform
