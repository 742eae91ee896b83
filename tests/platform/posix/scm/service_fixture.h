// What the service control manager's tests share: names, entries and the test's own services.
#pragma once

#include <sys/stat.h>
#include <sys/syscall.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/posix/scm/service_files.h"
#include "platform/posix/scm/scm_internal.h"
#include "platform/posix/scm/service_status.h"
#include "platform/posix/unique_fd.h"
#include "platform/service_manager.h"
#include "tests/support/child_process.h"
#include "tests/support/child_role.h"
#include "tests/support/registry_tree.h"

namespace servicetest {

using platform::Error;
using platform::Service;
using platform::ServiceConfig;
using platform::ServiceManager;
using platform::ServiceStatus;
namespace files = platform::posix::service_files;

// The stopped service-specific exit code of the "scm-service" role (service_manager_test.cpp):
// whether the launch variables reached the service's main routine.
inline constexpr std::uint32_t kCleanEnvironment = 7;
inline constexpr std::uint32_t kLeakedEnvironment = 8;
inline constexpr std::uint32_t kAllAccess = 0xF01FF;

inline std::string UniqueName(const char* base) {
  static std::atomic<int> counter{0};
  return std::string(base) + std::to_string(::getpid()) + "x" + std::to_string(++counter);
}

inline ServiceConfig ConfigFor(const std::string& commandLine) {
  ServiceConfig config;
  config.startType = platform::kServiceDemandStart;
  config.binaryPathName = commandLine;
  config.displayName = "Test service";
  return config;
}

inline std::string EntryPath(const std::string& name) {
  return "SYSTEM\\CurrentControlSet\\Services\\" + name;
}

inline ServiceStatus StatusOf(const Service& service) {
  ServiceStatus status;
  EXPECT_EQ(service.QueryStatus(status), 0u);
  return status;
}

inline bool ReachesState(const Service& service, std::uint32_t state) {
  return testsupport::Eventually([&] { return StatusOf(service).currentState == state; });
}

// Field `field` of proc(5)'s /proc/PID/stat (3 is the state) of a process that exists.
inline std::string ProcField(int pid, int field) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::string rest = text.substr(text.rfind(')') + 2);
  for (int i = 3; i < field; ++i) rest = rest.substr(rest.find(' ') + 1);
  return rest.substr(0, rest.find(' '));
}

inline platform::posix::ProcessIdentity ServiceProcess(const std::string& name) {
  platform::posix::StatusRecord record;
  EXPECT_EQ(platform::posix::ReadStatusRecord(files::StatusPath(name), record), 0u);
  return record.process;
}

// Ends a service process that this test started, through a pidfd of that very process.
inline void KillService(const std::string& name) {
  const platform::posix::ProcessIdentity process = ServiceProcess(name);
  platform::posix::UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, process.pid, 0U)));
  if (pidfd && platform::posix::IsRunning(process))
    ::syscall(SYS_pidfd_send_signal, pidfd.get(), SIGKILL, nullptr, 0U);
  EXPECT_TRUE(testsupport::Eventually([&] { return !platform::posix::IsRunning(process); }));
}

// The first folder above `path` that accounts other than its owner's may not pass through,
// as a 0700 home or checkout is; empty when there is none. `path` itself is the test's own.
inline std::string FolderClosedToOthers(const std::string& path) {
  for (std::size_t end = path.find('/', 1); end != std::string::npos; end = path.find('/', end + 1)) {
    const std::string folder = path.substr(0, end);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || (info.st_mode & S_IXOTH) == 0) return folder;
  }
  return {};
}

class ServiceDatabase : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(manager_.Connect(0xF003F), 0u); }
  void TearDown() override { testsupport::DeleteRegistryTree(EntryPath(name_)); }

  Error Create(const std::string& commandLine, Service& service) {
    return manager_.CreateService(name_, ConfigFor(commandLine), "", kAllAccess, service);
  }

  ServiceManager manager_;
  const std::string name_ = UniqueName("ScmDb");
};

// A service entry whose program is this test executable playing the service role.
class ServiceRun : public ServiceDatabase {
 protected:
  void SetUp() override {
    ServiceDatabase::SetUp();
    ASSERT_EQ(Create(testsupport::QuotedCommand(testsupport::SelfPath()), service_), 0u);
  }
  void TearDown() override {
    if (service_.IsOpen() && StatusOf(service_).currentState != platform::kServiceStopped)
      KillService(name_);
    ServiceDatabase::TearDown();
  }

  Error Start(const std::string& how = "") {
    const testsupport::ChildRoleEnvironment environment("scm-service", how);
    return service_.Start();
  }

  Service service_;
};

}  // namespace servicetest
