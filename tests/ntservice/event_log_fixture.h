// A scratch event log for tests: its own key under EventLog, removed with everything below it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/registry.h"
#include "tests/support/registry_tree.h"

namespace testsupport {

class ScratchEventLog : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    logName_ = std::string("HvsTest-") + test->name() + "-" + std::to_string(platform::TickCount());
  }
  void TearDown() override { DeleteRegistryTree(LogKeyPath()); }

  const std::string& logName() const { return logName_; }
  std::string LogKeyPath() const {
    return "SYSTEM\\CurrentControlSet\\Services\\EventLog\\" + logName_;
  }
  std::string SourceKeyPath(const std::string& source) const {
    return LogKeyPath() + "\\" + source;
  }

  // Creates the log key with a "Sources" value of `type` holding exactly `bytes`.
  void WriteSources(std::uint32_t type, const std::string& bytes) const {
    platform::RegistryKey key;
    ASSERT_EQ(platform::kSuccess, platform::RegistryKey::LocalMachine().Create(
                                      LogKeyPath(), platform::kKeyAllAccess, key));
    ASSERT_EQ(platform::kSuccess, key.SetValue("Sources", type, bytes.data(),
                                               static_cast<std::uint32_t>(bytes.size())));
  }

  // The raw bytes of "Sources"; "<absent>" when there is none.
  std::string SourcesBytes(std::uint32_t* type = nullptr) const {
    std::string bytes;
    return ReadRawValue(LogKeyPath(), "Sources", bytes, type) ? bytes : "<absent>";
  }

 private:
  std::string logName_;
};

}  // namespace testsupport
