// The POSIX service control manager on a shared host: races, stores that cannot be written,
// accounts, environment, signals and the state directory.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/registry_store.h"
#include "platform/posix/scm/control_channel.h"
#include "platform/posix/scm/service_account.h"
#include "platform/posix/state_dir.h"
#include "tests/platform/posix/scm/service_fixture.h"
#include "tests/support/test_env.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using namespace servicetest;
using platform::posix::UniqueFd;

constexpr uid_t kNobody = 65534;
constexpr std::uint32_t kControlAccess = platform::kServiceQueryStatus | platform::kServiceStop |
                                         platform::kServicePauseContinue | platform::kServiceStart |
                                         platform::kDelete;
// A child role's exit code when the system lets it set up nothing of what it needs.
constexpr int kCannotSetUp = 90;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  for (std::string part; std::getline(stream, part, separator);) parts.push_back(part);
  return parts;
}

// Until `name`'s status shows `state`, for at most ten seconds.
bool Reaches(const Service& service, std::uint32_t state) {
  return testsupport::Eventually([&] {
    ServiceStatus status;
    return service.QueryStatus(status) == 0 && status.currentState == state;
  });
}

// Ends the recorded process of `name`, where a child role has no test to fail.
void EndService(const std::string& name) {
  platform::posix::StatusRecord record;
  if (platform::posix::ReadStatusRecord(files::StatusPath(name), record) == 0 &&
      platform::posix::IsRunning(record.process))
    ::kill(record.process.pid, SIGKILL);
}

// A mount namespace of the calling process's own, so that its mounts are nobody else's.
bool PrivateMounts() {
  return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// --- Child roles ---

// "start:NAME:DELAY_US" or "remove:NAME:DELAY_US": waits at the barrier (a shared flock held
// by the test), then waits DELAY_US and starts or removes the service.
const bool kRacerRole = testsupport::RegisterChildRole("scm-racer", [](const std::string& argument) {
  const std::vector<std::string> parts = Split(argument, ':');
  if (parts.size() != 3) return 2;
  const std::string barrier = files::Directory() + "/barrier";
  testsupport::WriteFile(barrier + "." + parts[0], "");
  UniqueFd gate(::open(barrier.c_str(), O_RDONLY | O_CLOEXEC));
  if (!gate || ::flock(gate.get(), LOCK_SH) != 0) return 3;
  std::this_thread::sleep_for(std::chrono::microseconds(std::stoi(parts[2])));
  ServiceManager manager;
  Service service;
  if (manager.Connect(platform::kScManagerConnect) != 0 ||
      manager.OpenService(parts[1], kControlAccess, service) != 0)
    return 4;
  if (parts[0] == "remove") return service.Delete() == 0 ? 0 : 5;
  const testsupport::ChildRoleEnvironment environment("scm-service", "");
  return service.Start() == 0 ? 0 : 6;
});

// "NAME": with the state directory mounted read-only, queries, pauses and stops the running
// service. 0 when all of it worked, 10 + the step that failed otherwise.
const bool kReadOnlyRole = testsupport::RegisterChildRole("scm-read-only", [](const std::string& name) {
  const std::string state = platform::posix::StateDirectory();
  if (!PrivateMounts() || ::mount(state.c_str(), state.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
      ::mount(nullptr, state.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
    return kCannotSetUp;
  if (::open((state + "/probe").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600) >= 0 || errno != EROFS)
    return 91;  // the mount does not refuse writes
  ServiceManager manager;
  Service service;
  ServiceStatus status;
  if (manager.Connect(platform::kScManagerConnect) != 0) return 10;
  if (manager.OpenService(name, kControlAccess, service) != 0) return 11;
  if (service.QueryStatus(status) != 0 || status.currentState != platform::kServiceRunning) return 12;
  if (service.Control(platform::kControlPause, status) != 0) return 13;
  if (!Reaches(service, platform::kServicePaused)) return 14;
  if (service.Control(platform::kControlStop, status) != 0) return 15;
  if (!Reaches(service, platform::kServiceStopped)) return 16;
  return 0;
});

// With even the status file's own block taken, a report cannot be written at all: it is
// written once there is room again. 0 when so; 16 when not; 32 when the write did not fail.
template <typename Fill>
int RecordWaitingForRoom(const std::string& name, const std::string& state, Fill fill,
                         const Service& service) {
  if (::truncate(files::StatusPath(name).c_str(), 0) != 0) return 16;
  fill();
  // Straight to the dispatcher: the manager's own check would read the emptied file.
  platform::posix::control_channel::Reply reply{};
  if (platform::posix::control_channel::SendControl(files::SocketPath(name), platform::kControlPause,
                                                    5s, reply) != 0 ||
      reply.status.currentState != platform::kServicePaused)
    return 16;
  struct stat info {};
  if (::stat(files::StatusPath(name).c_str(), &info) != 0 || info.st_size != 0) return 32;
  ::truncate((state + "/filler").c_str(), 0);  // room again
  return Reaches(service, platform::kServicePaused) ? 0 : 16;
}

// Runs a service whose state directory is a tiny file system, fills that, then pauses,
// continues and stops the service. 0 when every state reads back as the service reported
// it; 20 to 23 when it could not be set up; else 64 + a bit for each state that did not
// read back (2 paused, 4 running again, 8 stopped), and 1 when a write to the full disk
// did not fail with 112; 16 and 32 are RecordWaitingForRoom's.
int FullDiskSteps(const std::string& state) {
  ServiceManager manager;
  Service service;
  ServiceStatus status;
  if (manager.Connect(0xF003F) != 0) return 20;
  const std::string name = "FullDisk";
  if (manager.CreateService(name, ConfigFor(testsupport::QuotedCommand(testsupport::SelfPath())), "",
                            kAllAccess, service) != 0)
    return 21;
  {
    const testsupport::ChildRoleEnvironment environment("scm-service", "");
    if (service.Start() != 0) return 22;
  }
  if (!Reaches(service, platform::kServiceRunning)) return 23;
  UniqueFd filler(::open((state + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  const auto fill = [&filler] {
    const std::string block(4096, 'x');
    while (filler && ::write(filler.get(), block.data(), block.size()) > 0) {
    }
  };
  fill();
  int failed = 0;
  platform::posix::StatusRecord record;
  if (platform::posix::WriteStatusRecord(state + "/new.status", record) != 112) failed |= 1;
  const struct {
    std::uint32_t control, state;
    int bit;
  } steps[] = {{platform::kControlPause, platform::kServicePaused, 2},
               {platform::kControlContinue, platform::kServiceRunning, 4}};
  for (const auto& step : steps)
    if (service.Control(step.control, status) != 0 || !Reaches(service, step.state)) failed |= step.bit;
  failed |= RecordWaitingForRoom(name, state, fill, service);
  if (service.Control(platform::kControlStop, status) != 0 || !Reaches(service, platform::kServiceStopped))
    failed |= 8;
  return failed == 0 ? 0 : 64 + failed;
}

const bool kFullDiskRole = testsupport::RegisterChildRole("scm-full-disk", [](const std::string&) {
  const std::string state = testsupport::MakeTempDirectory();
  if (!PrivateMounts() ||
      ::mount("tmpfs", state.c_str(), "tmpfs", 0, "size=1m,nr_inodes=64,mode=0700") != 0)
    return kCannotSetUp;
  testsupport::SetEnv("HVS_STATE_DIR", state);
  const int result = FullDiskSteps(state);
  EndService("FullDisk");
  ::umount2(state.c_str(), MNT_DETACH);
  ::rmdir(state.c_str());
  return result;
});

// "STATE_DIR:NAME:EXPECTED": as the nobody user, with a state directory of its own, starts
// NAME; 0 when the start fails with EXPECTED, 100 + its error's last two digits otherwise.
const bool kNobodyStarterRole = testsupport::RegisterChildRole("scm-nobody-starter", [](const std::string& argument) {
  const std::vector<std::string> parts = Split(argument, ':');
  if (parts.size() != 3) return 2;
  if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return 3;
  testsupport::SetEnv("HVS_STATE_DIR", parts[0]);
  ServiceManager manager;
  Service service;
  if (manager.Connect(0xF003F) != 0) return 4;
  ServiceConfig config = ConfigFor(testsupport::QuotedCommand(testsupport::SelfPath()));
  config.serviceStartName = "root";
  if (manager.CreateService(parts[1], config, "", kAllAccess, service) != 0) return 5;
  const testsupport::ChildRoleEnvironment environment("scm-service", "");
  const Error error = service.Start();
  EndService(parts[1]);
  return error == static_cast<Error>(std::stoul(parts[2])) ? 0 : 100 + static_cast<int>(error % 100);
});

// As the nobody user without HOME, XDG_STATE_HOME or HVS_STATE_DIR: 0 when the state
// directory is below nobody's home from the user database, 1 when it is elsewhere.
const bool kHomelessRole = testsupport::RegisterChildRole("scm-homeless", [](const std::string&) {
  if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return 3;
  for (const char* name : {"HOME", "XDG_STATE_HOME", "HVS_STATE_DIR"}) testsupport::UnsetEnv(name);
  const passwd* nobody = ::getpwuid(kNobody);
  if (nobody == nullptr) return 4;
  return platform::posix::StateDirectory() == std::string(nobody->pw_dir) + "/.local/state/hvs" ? 0 : 1;
});

// --- Helpers ---

pid_t Spawn(const std::string& role, const std::string& argument) {
  const testsupport::ChildRoleEnvironment environment(role, argument);
  std::string program = testsupport::SelfPath();
  char* const argv[] = {program.data(), nullptr};
  pid_t child = -1;
  return ::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) == 0 ? child : -1;
}

void Reap(pid_t child) {
  int status = 0;
  while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

std::map<std::string, std::string> ProcStatus(int pid) {
  std::map<std::string, std::string> fields;
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    for (char& c : value)
      if (c == '\t') c = ' ';
    value.erase(0, value.find_first_not_of(' '));
    value.erase(value.find_last_not_of(' ') + 1);
    fields[line.substr(0, colon)] = value;
  }
  return fields;
}

std::set<std::string> GroupsOf(const char* user, gid_t gid) {
  int count = 64;
  std::vector<gid_t> groups(64);
  ::getgrouplist(user, gid, groups.data(), &count);
  std::set<std::string> names;
  for (int i = 0; i < count; ++i) names.insert(std::to_string(groups[static_cast<std::size_t>(i)]));
  return names;
}

// Sets a variable for one test and puts the old value back at its end.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    testsupport::SetEnv(name, value);
  }
  ~ScopedVariable() {
    if (had_) testsupport::SetEnv(name_, old_);
    else testsupport::UnsetEnv(name_);
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

// --- /start racing /remove ---

TEST_F(ServiceDatabase, StartRacingRemovalNeverLeavesAServiceWithoutItsEntry) {
  const std::string barrier = files::Directory() + "/barrier";
  int orphans = 0;
  for (int round = 0; round < 12; ++round) {
    const std::string name = UniqueName("ScmRace");
    Service created;
    ASSERT_EQ(manager_.CreateService(name, ConfigFor(testsupport::QuotedCommand(testsupport::SelfPath())),
                                     "", kAllAccess, created),
              0u);
    UniqueFd gate(::open(barrier.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_TRUE(gate && ::flock(gate.get(), LOCK_EX) == 0);
    for (const char* side : {"start", "remove"}) ::unlink((barrier + "." + side).c_str());
    // The removal comes at a different moment of the start in every round.
    const pid_t starter = Spawn("scm-racer", "start:" + name + ":0");
    const pid_t remover = Spawn("scm-racer", "remove:" + name + ":" + std::to_string(round * 400));
    EXPECT_TRUE(testsupport::Eventually([&] {
      return testsupport::FileExists(barrier + ".start") && testsupport::FileExists(barrier + ".remove");
    }));
    std::this_thread::sleep_for(20ms);  // both now wait on the flock
    gate.reset();
    Reap(starter);
    Reap(remover);

    ServiceStatus status;
    ASSERT_EQ(platform::posix::CurrentStatus(files::StatusPath(name), status), 0u);
    if (status.currentState != platform::kServiceStopped) {
      if (!testsupport::KeyExists(EntryPath(name))) ++orphans;
      testsupport::Eventually([&] {
        return platform::posix::CurrentStatus(files::StatusPath(name), status) == 0 &&
               status.currentState != platform::kServiceStartPending;
      });
      KillService(name);
    }
    testsupport::DeleteRegistryTree(EntryPath(name));
  }
  EXPECT_EQ(orphans, 0) << "services ran on after their entry was removed";
}

TEST_F(ServiceRun, NewControlSocketNeverReplacesOneThatStillAnswers) {
  ASSERT_EQ(Start(), 0u);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceRunning));
  UniqueFd second;
  EXPECT_EQ(platform::posix::control_channel::Listen(files::SocketPath(name_), second),
            platform::kServiceAlreadyRunning);
  platform::posix::control_channel::Reply reply{};
  EXPECT_EQ(platform::posix::control_channel::SendControl(files::SocketPath(name_),
                                                          platform::kControlInterrogate, 2s, reply),
            0u)
      << "the running service lost its control socket";
}

// --- Stores that cannot be written ---

TEST_F(ServiceRun, ReadOnlyStateDirectoryStillServesQueriesAndControls) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a read-only bind mount";
  ASSERT_EQ(Start(), 0u);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceRunning));
  const int result = testsupport::RunChildRole("scm-read-only", name_);
  if (result == kCannotSetUp) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(result, 0) << "10 connect, 11 open, 12 query, 13/14 pause, 15/16 stop";
}

TEST(ServiceFullDisk, RecordedStateFollowsTheServiceOnAFullDiskAndTheErrorIs112) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a tiny tmpfs";
  const int result = testsupport::RunChildRole("scm-full-disk", "");
  if (result == kCannotSetUp) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(result, 0) << "64 + 1: a write to the full disk was not 112; + 2: paused did not "
                          "read back; + 4: running after continue did not; + 8: stopped did not; "
                          "+ 16: a record that failed was never written later";
}

// --- The account of the installation ---

TEST_F(ServiceDatabase, InstalledAccountIsTheServicesWhenRootStartsIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to start as another account";
  // The account runs a copy of this program in a folder made for it: the build tree may lie
  // where only root can enter, as in a 0700 home.
  testsupport::TempDirectory reachable;
  if (const std::string closed = FolderClosedToOthers(reachable.path()); !closed.empty())
    GTEST_SKIP() << "the account nobody cannot enter " << closed
                 << ", where the copy of the program would lie; set TMPDIR to a folder it can";
  ASSERT_EQ(::chmod(reachable.path().c_str(), 0755), 0);
  const std::string program = reachable / "scm-account-service";
  ASSERT_TRUE(testsupport::CopySelfTo(program));
  struct Case {
    const char* account;
    Error expected;
  };
  for (const Case& row : {Case{"nobody", 0}, Case{".\\nobody", 0}, Case{"no-such-account-h11", 1057}}) {
    SCOPED_TRACE(row.account);
    const std::string name = UniqueName("ScmAccount");
    ServiceConfig config = ConfigFor(testsupport::QuotedCommand(program));
    config.serviceStartName = row.account;
    Service service;
    ASSERT_EQ(manager_.CreateService(name, config, "", kAllAccess, service), 0u);
    {
      const testsupport::ChildRoleEnvironment environment("scm-service", "");
      EXPECT_EQ(service.Start(), row.expected);
    }
    if (row.expected == 0 && ReachesState(service, platform::kServiceRunning)) {
      std::map<std::string, std::string> fields = ProcStatus(ServiceProcess(name).pid);
      EXPECT_EQ(fields["Uid"], "65534 65534 65534 65534");
      EXPECT_EQ(fields["Gid"], "65534 65534 65534 65534");
      const std::vector<std::string> groups = Split(fields["Groups"], ' ');
      EXPECT_EQ(std::set<std::string>(groups.begin(), groups.end()), GroupsOf("nobody", kNobody));
      ServiceStatus status;
      EXPECT_EQ(service.Control(platform::kControlStop, status), 0u);
      EXPECT_TRUE(ReachesState(service, platform::kServiceStopped));
    }
    if (StatusOf(service).currentState != platform::kServiceStopped) KillService(name);
    testsupport::DeleteRegistryTree(EntryPath(name));
  }
}

TEST(ServiceAccount, StarterWhoIsNotRootCannotStartAServiceOfAnotherAccount) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  testsupport::TempDirectory state;
  if (const std::string closed = FolderClosedToOthers(state.path()); !closed.empty())
    GTEST_SKIP() << "the account nobody cannot enter " << closed
                 << ", where its state folder would lie; set TMPDIR to a folder it can";
  ASSERT_EQ(::chown(state.path().c_str(), kNobody, kNobody), 0);
  EXPECT_EQ(testsupport::RunChildRole("scm-nobody-starter", state.path() + ":ScmForeign:1069"), 0)
      << "100 + n: the start gave error ..n, not 1069";
}

// --- The environment a service starts with ---

TEST_F(ServiceRun, ServiceStartsWithAFixedEnvironmentNotTheStarters) {
  testsupport::TempDirectory scratch;
  const std::string dump = scratch / "environment";
  const ScopedVariable path("PATH", "/starter/bin:" + std::string(std::getenv("PATH")));
  const ScopedVariable secret("STARTER_ONLY", "1");
  const ScopedVariable locale("LANG", "C.UTF-8");
  const ScopedVariable zone("TZ", "Europe/Berlin");
  ASSERT_EQ(Start("env:" + dump), 0u);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceRunning));
  std::map<std::string, std::string> seen;
  for (const std::string& line : Split(testsupport::ReadFile(dump), '\n'))
    if (line.find('=') != std::string::npos) seen[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
  const passwd* self = ::getpwuid(::geteuid());
  ASSERT_NE(self, nullptr);
  const std::map<std::string, std::string> expected = {
      {"PATH", platform::posix::kServicePath},
      {"HVS_STATE_DIR", platform::posix::StateDirectory()},
      {"LANG", "C.UTF-8"},
      {"TZ", "Europe/Berlin"},
      {"HOME", self->pw_dir},
      {"USER", self->pw_name},
  };
  for (const auto& [name, value] : expected) EXPECT_EQ(seen[name], value) << name;
  EXPECT_EQ(seen.count("STARTER_ONLY"), 0u) << "the starter's environment reached the service";
  ServiceStatus status;
  EXPECT_EQ(service_.Control(platform::kControlStop, status), 0u);
  EXPECT_TRUE(ReachesState(service_, platform::kServiceStopped));
}

// --- SIGTERM ---

TEST_F(ServiceRun, SigtermRunsTheStopSequenceInsteadOfEndingTheService) {
  ASSERT_EQ(Start(), 0u);
  ASSERT_TRUE(ReachesState(service_, platform::kServiceRunning));
  ASSERT_EQ(::kill(ServiceProcess(name_).pid, SIGTERM), 0);  // running, so the id is its own
  ASSERT_TRUE(ReachesState(service_, platform::kServiceStopped));
  const ServiceStatus status = StatusOf(service_);
  EXPECT_EQ(status.win32ExitCode, 0u) << "the service died instead of stopping";
  EXPECT_EQ(status.serviceSpecificExitCode, kCleanEnvironment) << "its main routine did not end";
}

// --- The state directory ---

TEST(ServiceStateDirectory, DirectoryThatOthersControlIsRefused) {
  struct Case {
    const char* what;
    unsigned mode;
    uid_t owner;
    Error expected;
  };
  const Case cases[] = {
      {"owner-only", 0700, 0, 0},
      {"readable by all", 0755, 0, 0},
      {"writable by the group", 0770, 0, platform::kAccessDenied},
      {"writable by others", 0707, 0, platform::kAccessDenied},
      {"another user's", 0700, kNobody, platform::kAccessDenied},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.what);
    if (row.owner != ::geteuid() && ::geteuid() != 0) continue;  // only root gives a directory away
    testsupport::TempDirectory state;
    ASSERT_EQ(::chmod(state.path().c_str(), row.mode), 0);
    ASSERT_EQ(::chown(state.path().c_str(), row.owner == 0 ? ::geteuid() : row.owner, -1), 0);
    const ScopedVariable variable("HVS_STATE_DIR", state.path());
    platform::posix::registry_store::CloseStore();
    ServiceManager manager;
    EXPECT_EQ(manager.Connect(platform::kScManagerConnect), row.expected);
    platform::posix::registry_store::CloseStore();
  }
}

TEST(ServiceStateDirectory, WithoutAHomeVariableTheUserDatabaseGivesTheHomeNotTmp) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become a user without a writable /var/lib/hvs";
  EXPECT_EQ(testsupport::RunChildRole("scm-homeless", ""), 0);
}

TEST_F(ServiceDatabase, LinksAtLockAndStatusPathsAreNeverFollowed) {
  testsupport::TempDirectory elsewhere;
  const std::string target = elsewhere / "target";
  // A record that would read as a running service: this very process.
  platform::posix::StatusRecord record;
  ASSERT_TRUE(platform::posix::IdentifyProcess(::getpid(), record.process));
  record.status.currentState = platform::kServiceRunning;
  ASSERT_EQ(platform::posix::WriteStatusRecord(elsewhere / "record", record), 0u);

  Service created;
  ASSERT_EQ(Create("/bin/prog", created), 0u);
  ASSERT_EQ(::symlink((elsewhere / "record").c_str(), files::StatusPath(name_).c_str()), 0);
  ServiceStatus status;
  EXPECT_EQ(created.QueryStatus(status), 1921u) << "the status was read through a link";

  const std::string lock = files::EntriesLockPath();
  ::unlink(lock.c_str());
  ASSERT_EQ(::symlink(target.c_str(), lock.c_str()), 0);
  const Error deleted = created.Delete();
  ::unlink(lock.c_str());
  EXPECT_EQ(deleted, 1921u);
  EXPECT_FALSE(testsupport::FileExists(target)) << "the lock was taken through a link";
  ::unlink(files::StatusPath(name_).c_str());
}

}  // namespace
