// Fixture for the variable table's tests: an empty "SOFTWARE\Sorvane", a scratch log, a store.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/settings_store.h"
#include "log/log_file.h"
#include "tests/support/registry_tree.h"
#include "tests/support/registry_values.h"
#include "tests/support/test_env.h"

namespace hvs {

inline const std::string kInstaller = "SOFTWARE\\Sorvane\\Meridel Server\\Installer";
inline const std::string kReports = "SOFTWARE\\Sorvane\\Meridel Server\\ZAVReports";
inline const std::string kDatabase = "SOFTWARE\\Sorvane\\Meridel Server\\Database";
inline const std::string kPallodex = "SOFTWARE\\Sorvane\\Meridel Server\\Pallodex";
inline const std::string kClient = "SOFTWARE\\Sorvane\\MeridelClient\\Settings\\Client\\";

class VariableFixture : public ::testing::Test {
 protected:
  VariableFixture() : log(false), store(log) {
    testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane");
    log.Init(dir.path(), "HVS.Log");
  }
  ~VariableFixture() override { testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane"); }

  // The log's messages in order, without their stamps.
  std::vector<std::string> LogMessages() { return testsupport::LogMessages(dir / "HVS.Log"); }

  testsupport::TempDirectory dir;
  LogFile log;
  SettingsStore store;
};

}  // namespace hvs
