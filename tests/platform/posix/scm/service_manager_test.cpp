// The POSIX service control manager: its database, its lock, and services it starts and controls.
#include <sys/stat.h>
#include <sys/syscall.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/scm/control_channel.h"
#include "platform/posix/scm/service_files.h"
#include "platform/posix/scm/service_launch.h"
#include "platform/posix/scm/service_status.h"
#include "platform/posix/state_dir.h"
#include "platform/posix/unique_fd.h"
#include "platform/registry.h"
#include "platform/service_manager.h"
#include "tests/support/child_process.h"
#include "tests/support/child_role.h"
#include "tests/support/registry_tree.h"
#include "tests/support/test_env.h"
#include "tests/platform/posix/scm/service_fixture.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using platform::Error;
using platform::Service;
using platform::ServiceConfig;
using platform::ServiceManager;
using platform::ServiceStatus;
namespace files = platform::posix::service_files;

using servicetest::kAllAccess;
using servicetest::kCleanEnvironment;
using servicetest::kLeakedEnvironment;
using servicetest::ServiceDatabase;
using servicetest::ServiceRun;
using servicetest::ConfigFor;
using servicetest::EntryPath;
using servicetest::KillService;
using servicetest::ProcField;
using servicetest::ReachesState;
using servicetest::ServiceProcess;
using servicetest::StatusOf;
using servicetest::UniqueName;

constexpr std::uint32_t kCountedControl = 130;   // answered with kCountedAnswer, counted
constexpr std::uint32_t kCountedAnswer = 5150;
constexpr std::uint32_t kSlowControl = 131;      // answered after a second

// --- The service the tests start: this executable in a child role. ---

// Never destroyed: the dispatcher's threads may outlive static destruction.
struct RoleState {
  std::mutex lock;
  std::condition_variable changed;
  bool stop = false;
  platform::ServiceStatusHandle handle = 0;
  std::uint32_t state = platform::kServiceStartPending;
  std::uint32_t controls = platform::kServiceAcceptStop | platform::kServiceAcceptPauseContinue;
  std::uint32_t counted = 0;
  bool slowStart = false;
};
RoleState& role = *new RoleState;

// The count of delivered kCountedControl travels in the service-specific exit code.
void Report(std::uint32_t state, std::uint32_t exitCode = 0) {
  ServiceStatus status;
  {
    const std::lock_guard<std::mutex> guard(role.lock);
    role.state = state;
    status.currentState = state;
    status.controlsAccepted = state == platform::kServiceStopPending ? 0 : role.controls;
    status.serviceSpecificExitCode = state == platform::kServiceStopped ? exitCode : role.counted;
  }
  platform::SetServiceStatus(role.handle, status);
}

std::uint32_t Handle(std::uint32_t control, std::uint32_t, void*, void*) {
  switch (control) {
    case platform::kControlStop: {
      Report(platform::kServiceStopPending);
      const std::lock_guard<std::mutex> guard(role.lock);
      role.stop = true;
      role.changed.notify_all();
      return 0;
    }
    case platform::kControlPause: Report(platform::kServicePaused); return 0;
    case platform::kControlContinue: Report(platform::kServiceRunning); return 0;
    case platform::kControlInterrogate: return 0;
    case kCountedControl: {
      {
        const std::lock_guard<std::mutex> guard(role.lock);
        ++role.counted;
      }
      Report(platform::kServiceRunning);
      return kCountedAnswer;
    }
    case kSlowControl: std::this_thread::sleep_for(1s); return 0;
    default: return platform::kCallNotImplemented;
  }
}

void ServiceMain(std::uint32_t, char** argv) {
  const bool leaked = std::getenv(platform::posix::kControlSocketVariable) != nullptr;
  Error error = 0;
  role.handle =
      platform::ControlHandlerRegistration().RegisterExtended(argv[0], &Handle, nullptr, error);
  if (role.slowStart) std::this_thread::sleep_for(1500ms);
  Report(platform::kServiceRunning);
  std::unique_lock<std::mutex> lock(role.lock);
  role.changed.wait(lock, [] { return role.stop; });
  lock.unlock();
  Report(platform::kServiceStopped, leaked ? kLeakedEnvironment : kCleanEnvironment);
}

// "" a service that accepts stop, pause and continue; "stop-only" one that accepts only
// stop; "slow-start" one that reports running 1.5 s after it started; "silent" a program
// that never calls the dispatcher; "env:PATH" the first, having written its environment
// to PATH, one variable a line.
const bool kServiceRole = testsupport::RegisterChildRole("scm-service", [](const std::string& how) {
  if (how.starts_with("env:")) {
    std::ofstream out(how.substr(4));
    for (char** entry = environ; *entry != nullptr; ++entry) out << *entry << '\n';
  }
  if (how == "silent") {
    std::this_thread::sleep_for(60s);
    return 0;
  }
  if (how == "stop-only") role.controls = platform::kServiceAcceptStop;
  role.slowStart = how == "slow-start";
  char name[] = "ignored";
  return static_cast<int>(platform::StartServiceDispatcher(name, &ServiceMain));
});

// Exit code 0 when the database lock was refused with 1055, 1 when it was taken.
const bool kLockRole = testsupport::RegisterChildRole("scm-lock", [](const std::string&) {
  ServiceManager manager;
  if (manager.Connect(platform::kScManagerLock) != 0) return 2;
  platform::ServiceDatabaseLock lock;
  const Error error = manager.Lock(lock);
  return error == platform::kServiceDatabaseLocked ? 0 : error == 0 ? 1 : 3;
});

// "<socket>": sends kCountedControl as the nobody user. 0 refused by the dispatcher's peer
// check, 1 refused by the socket's mode, 2 delivered, 3 anything else.
const bool kStrangerRole = testsupport::RegisterChildRole("scm-stranger", [](const std::string& socket) {
  if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 3;
  platform::posix::control_channel::Reply reply{};
  const Error sent =
      platform::posix::control_channel::SendControl(socket, kCountedControl, 5s, reply);
  if (sent == platform::kAccessDenied) return 1;
  if (sent != 0) return 10 + static_cast<int>(sent % 100);
  return reply.answer == platform::kAccessDenied ? 0 : 2;
});

// --- Helpers ---

std::string LinkOf(const std::string& path) {
  char target[4096];
  const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
  return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

// --- The database ---

TEST_F(ServiceDatabase, EntryIsCreatedOnceWithoutRegardToCaseAndReadsBack) {
  ServiceConfig config = ConfigFor("\"/opt/a b/prog\" -x");
  config.startType = platform::kServiceAutoStart;
  config.loadOrderGroup = "Group A";
  config.dependencies = {'o', 'n', 'e', '\0', 't', 'w', 'o', '\0', '\0'};
  config.serviceStartName = "operator";
  Service created;
  ASSERT_EQ(manager_.CreateService(name_, config, "s3cret", kAllAccess, created), 0u);
  EXPECT_EQ(created.SetDescription("Describes it"), 0u);

  Service again;
  std::string upper = name_;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(manager_.CreateService(upper, ConfigFor("/bin/other"), "", kAllAccess, again),
            platform::kServiceExists);

  Service opened;
  ASSERT_EQ(manager_.OpenService(upper, platform::kServiceQueryConfig, opened), 0u);
  ServiceConfig read;
  ASSERT_EQ(opened.QueryConfig(read), 0u);
  EXPECT_EQ(read.binaryPathName, "\"/opt/a b/prog\" -x");
  EXPECT_EQ(read.startType, platform::kServiceAutoStart);
  EXPECT_EQ(read.serviceType, platform::kServiceWin32OwnProcess);
  EXPECT_EQ(read.loadOrderGroup, "Group A");
  EXPECT_EQ(read.dependencies, config.dependencies);
  EXPECT_EQ(read.serviceStartName, "operator");
  EXPECT_EQ(read.displayName, "Test service");

  std::string bytes;
  EXPECT_TRUE(testsupport::ReadRawValue(EntryPath(name_), "Description", bytes));
  EXPECT_EQ(bytes, std::string("Describes it", 13));
  std::vector<std::string> values;
  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryKey::LocalMachine().Open(EntryPath(name_), platform::kKeyRead, key), 0u);
  ASSERT_EQ(key.ListValues(values), 0u);
  for (const std::string& value : values) {
    ASSERT_TRUE(testsupport::ReadRawValue(EntryPath(name_), value, bytes));
    EXPECT_EQ(bytes.find("s3cret"), std::string::npos) << "the password is stored in " << value;
  }

  Service missing;
  EXPECT_EQ(manager_.OpenService(name_ + "Nope", platform::kServiceQueryStatus, missing),
            platform::kServiceDoesNotExist);
  EXPECT_EQ(manager_.OpenService("a\\b", platform::kServiceQueryStatus, missing), 123u);
}

TEST_F(ServiceDatabase, NoAccountAndNoDependenciesReadAsLocalSystemAndNone) {
  ServiceConfig config = ConfigFor("/bin/prog");
  config.dependencies = {'\0'};  // what an installer passes for an empty list
  Service created;
  ASSERT_EQ(manager_.CreateService(name_, config, "", kAllAccess, created), 0u);
  ServiceConfig read;
  ASSERT_EQ(created.QueryConfig(read), 0u);
  EXPECT_TRUE(read.dependencies.empty());
  EXPECT_EQ(read.serviceStartName, "LocalSystem");
  ServiceStatus status = StatusOf(created);
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
  EXPECT_EQ(status.win32ExitCode, 1077u);  // never started
}

TEST_F(ServiceDatabase, RightsAskedForAreTheRightsGranted) {
  Service created;
  ASSERT_EQ(Create("/bin/prog", created), 0u);
  Service limited;
  ASSERT_EQ(manager_.OpenService(name_, platform::kServiceQueryStatus, limited), 0u);
  ServiceStatus status;
  ServiceConfig config;
  EXPECT_EQ(limited.QueryStatus(status), 0u);
  EXPECT_EQ(limited.Start(), platform::kAccessDenied);
  EXPECT_EQ(limited.Control(platform::kControlStop, status), platform::kAccessDenied);
  EXPECT_EQ(limited.QueryConfig(config), platform::kAccessDenied);
  EXPECT_EQ(limited.SetDescription("x"), platform::kAccessDenied);
  EXPECT_EQ(limited.Delete(), platform::kAccessDenied);

  ServiceManager connectOnly;
  ASSERT_EQ(connectOnly.Connect(platform::kScManagerConnect), 0u);
  Service other;
  platform::ServiceDatabaseLock lock;
  std::vector<platform::ServiceStatusEntry> services;
  EXPECT_EQ(connectOnly.CreateService(name_ + "B", ConfigFor("/bin/x"), "", kAllAccess, other),
            platform::kAccessDenied);
  EXPECT_EQ(connectOnly.Lock(lock), platform::kAccessDenied);
  EXPECT_EQ(connectOnly.EnumerateServices(0x30, 3, services), platform::kAccessDenied);

  // GENERIC_READ on a service includes the configuration.
  Service generic;
  ASSERT_EQ(connectOnly.OpenService(name_, 0x80000000, generic), 0u);
  EXPECT_EQ(generic.QueryConfig(config), 0u);
}

TEST_F(ServiceDatabase, SecondLockerFailsWith1055UntilTheFirstUnlocks) {
  platform::ServiceDatabaseLock lock;
  ASSERT_EQ(manager_.Lock(lock), 0u);
  EXPECT_EQ(testsupport::RunChildRole("scm-lock", ""), 0) << "another process got the lock";
  platform::ServiceDatabaseLock second;
  EXPECT_EQ(manager_.Lock(second), platform::kServiceDatabaseLocked);
  lock.Unlock();
  EXPECT_EQ(testsupport::RunChildRole("scm-lock", ""), 1) << "the lock outlived its unlock";
}

TEST_F(ServiceDatabase, DeletingAStoppedServiceRemovesItsWholeTreeAndFreesTheName) {
  Service created;
  ASSERT_EQ(Create("/bin/prog", created), 0u);
  platform::RegistryKey section;
  ASSERT_EQ(platform::RegistryKey::LocalMachine().Create(EntryPath(name_) + "\\Parameters\\Main",
                                                         platform::kKeyAllAccess, section),
            0u);
  section.Close();
  ASSERT_EQ(created.Delete(), 0u);
  EXPECT_FALSE(testsupport::KeyExists(EntryPath(name_)));
  EXPECT_EQ(created.Delete(), platform::kServiceMarkedForDelete);
  Service reopened;
  EXPECT_EQ(manager_.OpenService(name_, platform::kServiceQueryStatus, reopened),
            platform::kServiceDoesNotExist);
  EXPECT_EQ(Create("/bin/prog", reopened), 0u);
}

TEST_F(ServiceDatabase, EnumerationListsServicesButNotOtherKeysBelowServices) {
  Service created;
  ASSERT_EQ(Create("/bin/prog", created), 0u);
  // Parameters written before an installation make a key that is no service yet.
  const std::string notInstalled = UniqueName("ScmParams");
  platform::RegistryKey parameters;
  ASSERT_EQ(platform::RegistryKey::LocalMachine().Create(EntryPath(notInstalled) + "\\Parameters",
                                                         platform::kKeyAllAccess, parameters),
            0u);
  parameters.Close();

  std::vector<platform::ServiceStatusEntry> services;
  ASSERT_EQ(manager_.EnumerateServices(0x30, platform::kServiceStateAll, services), 0u);
  int seen = 0;
  for (const auto& entry : services) {
    EXPECT_NE(entry.serviceName, notInstalled);
    if (entry.serviceName == name_) {
      ++seen;
      EXPECT_EQ(entry.displayName, "Test service");
      EXPECT_EQ(entry.status.currentState, platform::kServiceStopped);
    }
  }
  EXPECT_EQ(seen, 1);
  ASSERT_EQ(manager_.EnumerateServices(0x30, 1 /* active only */, services), 0u);
  for (const auto& entry : services) EXPECT_NE(entry.serviceName, name_);

  Service later;
  EXPECT_EQ(manager_.CreateService(notInstalled, ConfigFor("/bin/x"), "", kAllAccess, later), 0u);
  testsupport::DeleteRegistryTree(EntryPath(notInstalled));
}

// --- Running services ---

TEST_F(ServiceRun, StartedServiceIsDetachedAndItsHandlerAnswersControls) {
  ASSERT_EQ(Start(), 0u);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceRunning));
  EXPECT_EQ(Start(), platform::kServiceAlreadyRunning);

  const platform::posix::ProcessIdentity process = ServiceProcess(name_);
  EXPECT_NE(ProcField(process.pid, 4), std::to_string(::getpid())) << "the service is our child";
  EXPECT_NE(ProcField(process.pid, 6), std::to_string(::getsid(0))) << "it shares our session";
  const std::string fds = "/proc/" + std::to_string(process.pid);
  EXPECT_EQ(LinkOf(fds + "/fd/0"), "/dev/null");
  EXPECT_EQ(LinkOf(fds + "/fd/2"), "/dev/null");
  EXPECT_EQ(LinkOf(fds + "/cwd"), "/");
  struct stat socket {};
  ASSERT_EQ(::stat(files::SocketPath(name_).c_str(), &socket), 0);
  EXPECT_TRUE(S_ISSOCK(socket.st_mode));
  EXPECT_EQ(socket.st_mode & 0777, 0600u);

  ServiceStatus status;
  EXPECT_EQ(service_.Control(kCountedControl, status), kCountedAnswer);
  EXPECT_EQ(status.currentState, platform::kServiceRunning);
  EXPECT_EQ(status.serviceSpecificExitCode, 1u);
  EXPECT_EQ(service_.Control(platform::kControlPause, status), 0u);
  EXPECT_EQ(status.currentState, platform::kServicePaused);
  EXPECT_EQ(StatusOf(service_).currentState, platform::kServicePaused);
  EXPECT_EQ(service_.Control(platform::kControlContinue, status), 0u);
  EXPECT_EQ(status.currentState, platform::kServiceRunning);
  EXPECT_EQ(service_.Control(platform::kControlInterrogate, status), 0u);
  EXPECT_EQ(service_.Control(5 /* shutdown: not for ControlService */, status),
            platform::kInvalidParameter);

  EXPECT_EQ(service_.Control(platform::kControlStop, status), 0u);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceStopped));
  status = StatusOf(service_);
  EXPECT_EQ(status.win32ExitCode, 0u);
  EXPECT_EQ(status.serviceSpecificExitCode, kCleanEnvironment) << "its children would inherit the socket";
  EXPECT_FALSE(testsupport::FileExists(files::SocketPath(name_)));
  EXPECT_EQ(service_.Control(platform::kControlStop, status), platform::kServiceNotActiveError);
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
}

TEST_F(ServiceRun, KilledServiceReadsStoppedWith1067AndStartsAgain) {
  ASSERT_EQ(Start(), 0u);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceRunning));
  KillService(name_);
  ServiceStatus status = StatusOf(service_);
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
  EXPECT_EQ(status.win32ExitCode, platform::kProcessAborted);
  EXPECT_EQ(service_.Control(platform::kControlStop, status), platform::kServiceNotActiveError);

  ASSERT_EQ(Start(), 0u);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceRunning));
  EXPECT_EQ(service_.Control(kCountedControl, status), kCountedAnswer);
}

TEST_F(ServiceRun, ControlsFollowWhatTheLatestReportAccepts) {
  ASSERT_EQ(Start("slow-start"), 0u);
  ServiceStatus status;
  EXPECT_EQ(StatusOf(service_).currentState, platform::kServiceStartPending);
  EXPECT_EQ(service_.Control(platform::kControlStop, status), platform::kServiceCannotAcceptControl);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceRunning));
  ASSERT_EQ(service_.Control(platform::kControlStop, status), 0u);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceStopped));

  ASSERT_EQ(Start("stop-only"), 0u);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceRunning));
  EXPECT_EQ(service_.Control(platform::kControlPause, status), 1052u);
  EXPECT_EQ(status.currentState, platform::kServiceRunning);
  // A dispatcher busy with a handler that takes longer than the client waits.
  platform::posix::control_channel::Reply reply{};
  EXPECT_EQ(platform::posix::control_channel::SendControl(files::SocketPath(name_), kSlowControl,
                                                          200ms, reply),
            1053u);
}

TEST_F(ServiceRun, DeletingARunningServiceMarksItUntilItStops) {
  ASSERT_EQ(Start(), 0u);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceRunning));
  ASSERT_EQ(service_.Delete(), 0u);
  EXPECT_TRUE(testsupport::KeyExists(EntryPath(name_)));
  Service again;
  EXPECT_EQ(Create("/bin/prog", again), platform::kServiceMarkedForDelete);
  EXPECT_EQ(service_.Delete(), platform::kServiceMarkedForDelete);
  EXPECT_EQ(Start(), platform::kServiceMarkedForDelete);

  ServiceStatus status;
  ASSERT_EQ(service_.Control(platform::kControlStop, status), 0u);
  EXPECT_TRUE(testsupport::Eventually([&] { return !testsupport::KeyExists(EntryPath(name_)); }));
  EXPECT_EQ(manager_.OpenService(name_, platform::kServiceQueryStatus, again),
            platform::kServiceDoesNotExist);
}

TEST_F(ServiceRun, KilledServiceMarkedForDeletionGoesAtTheNextLookUp) {
  ASSERT_EQ(Start(), 0u);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceRunning));
  ASSERT_EQ(service_.Delete(), 0u);
  KillService(name_);
  Service again;
  EXPECT_EQ(manager_.OpenService(name_, platform::kServiceQueryStatus, again),
            platform::kServiceDoesNotExist);
  EXPECT_FALSE(testsupport::KeyExists(EntryPath(name_)));
}

TEST_F(ServiceRun, StartOfAProgramThatCannotRunFailsWithItsErrorAndReadsStopped) {
  Service missing;
  const std::string name = UniqueName("ScmMissing");
  ASSERT_EQ(manager_.CreateService(name, ConfigFor("\"/nonexistent dir/prog\""), "", kAllAccess,
                                   missing),
            0u);
  EXPECT_EQ(missing.Start(), platform::kFileNotFound);
  const ServiceStatus status = StatusOf(missing);
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
  EXPECT_EQ(status.win32ExitCode, platform::kFileNotFound);
  testsupport::DeleteRegistryTree(EntryPath(name));
}

TEST_F(ServiceRun, ProgramThatNeverAnswersFailsWith1053AndIsKilled) {
  const testsupport::ChildRoleEnvironment environment("scm-service", "silent");
  platform::posix::ServiceAccount starter;
  ASSERT_EQ(platform::posix::ResolveServiceAccount("", starter), 0u);
  platform::posix::UniqueFd noLock;
  EXPECT_EQ(platform::posix::LaunchService(name_, testsupport::QuotedCommand(testsupport::SelfPath()),
                                           starter, 300ms, noLock),
            platform::kServiceRequestTimeoutError);
  const platform::posix::ProcessIdentity process = ServiceProcess(name_);
  EXPECT_TRUE(testsupport::Eventually([&] { return !platform::posix::IsRunning(process); }));
  const ServiceStatus status = StatusOf(service_);
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
  EXPECT_EQ(status.win32ExitCode, platform::kServiceRequestTimeoutError);
}

TEST_F(ServiceRun, ControlFromAUserWhoIsNeitherRootNorTheServicesIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ASSERT_EQ(Start(), 0u);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceRunning));
  const std::string socket = files::SocketPath(name_);
  EXPECT_EQ(testsupport::RunChildRole("scm-stranger", socket), 1) << "the socket let a stranger in";

  // With the way opened up, the dispatcher's own check still refuses.
  const std::string state = platform::posix::StateDirectory();
  if (const std::string closed = servicetest::FolderClosedToOthers(state); !closed.empty())
    GTEST_SKIP() << "the account nobody cannot enter " << closed
                 << ", where the state folder lies; set TMPDIR to a folder it can";
  ASSERT_EQ(::chmod(state.c_str(), 0711), 0);
  ASSERT_EQ(::chmod(files::Directory().c_str(), 0711), 0);
  ASSERT_EQ(::chmod(socket.c_str(), 0666), 0);
  const int refused = testsupport::RunChildRole("scm-stranger", socket);
  ::chmod(files::Directory().c_str(), 0700);
  ::chmod(state.c_str(), 0700);
  EXPECT_EQ(refused, 0) << "the dispatcher took a stranger's control";

  ServiceStatus status;
  EXPECT_EQ(service_.Control(kCountedControl, status), kCountedAnswer);
  EXPECT_EQ(status.serviceSpecificExitCode, 1u) << "a refused control reached the handler";
}

}  // namespace
