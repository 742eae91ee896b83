// VariableTable on the real registry: defaults, key locations, the host part, refresh timing.
#include "config/variable_table.h"

#include <gtest/gtest.h>

#include "tests/config/variable_fixture.h"

namespace hvs {
namespace {

using Values = std::map<std::string, std::string>;
using VariableTableTest = VariableFixture;

TEST_F(VariableTableTest, EmptyRegistryGivesDefaultsWithReferencesStoredUnexpanded) {
  VariableTable table(store, log);
  const Values expected = {
      {"DATABASEDSN", "zav_svmeridel"}, {"DATABASEPASSWORD", ""},
      {"DATABASEUSER", ""},             {"LMHTTP", "http://%ZAVHOST%"},
      {"PROXYAUTODETECT", ""},          {"PROXYPASSWORD", ""},
      {"PROXYPORT", ""},                {"PROXYURL", ""},
      {"PROXYUSER", ""},                {"REPORTINGDSN", "LocalZAVReportingServer"},
      {"REPORTINGPASSWORD", ""},        {"REPORTINGUSERNAME", ""},
      {"SOAPHOST", "%ZAVHOST%"},        {"SOAPPASSWORD", ""},
      {"SOAPPORT", "80"},               {"SOAPURL", "http://127.0.0.1/lumisto?wsdl"},
      {"SOAPUSERNAME", ""},             {"SOAPUSESSL", "0"},
      {"ZAVHOST", "127.0.0.1"},         {"ZAVHTTP", "http://127.0.0.1:52311"},
  };
  EXPECT_EQ(table.values(), expected);
  // The table only reads: nothing is created and nothing is logged.
  EXPECT_FALSE(testsupport::KeyExists("SOFTWARE\\Sorvane"));
  EXPECT_TRUE(LogMessages().empty());
}

TEST_F(VariableTableTest, EveryRegistryVariableReadsItsOwnKeyAndValue) {
  Put(kDatabase, "DSN", "dsn");
  Put(kDatabase, "User", "dbuser");
  Put(kDatabase, "Password", "dbpass");
  Put(kClient + "_Lumisto_HTTPServer_UseSSLFlag", "value", "1");
  Put(kClient + "_Lumisto_HTTPServer_PortNumber", "value", "8080");
  Put(kInstaller, "Hostname", "zav01");
  Put(kReports, "LMHTTP", "https://reports");
  Put(kReports, "SOAPUsername", "soapuser");
  Put(kReports, "SOAPHost", "soaphost");
  Put(kReports, "SOAPPassword", "soappass");
  Put(kPallodex, "LocalDBDSN", "repdsn");
  Put(kPallodex, "Username", "repuser");
  Put(kPallodex, "Password", "reppass");
  Put(kClient + "_ZAVClient_Comm_ProxyServer", "value", "proxy");
  Put(kClient + "_ZAVClient_Comm_ProxyPort", "value", "3128");
  Put(kClient + "_ZAVClient_Comm_ProxyUser", "value", "puser");
  Put(kClient + "_ZAVClient_Comm_ProxyPassword", "value", "ppass");
  Put(kClient + "_ZAVClient_Comm_ProxyAutoDetect", "value", "yes");

  VariableTable table(store, log);
  const Values expected = {
      {"DATABASEDSN", "dsn"},        {"DATABASEPASSWORD", "dbpass"},
      {"DATABASEUSER", "dbuser"},    {"LMHTTP", "https://reports"},
      {"PROXYAUTODETECT", "yes"},    {"PROXYPASSWORD", "ppass"},
      {"PROXYPORT", "3128"},         {"PROXYURL", "proxy"},
      {"PROXYUSER", "puser"},        {"REPORTINGDSN", "repdsn"},
      {"REPORTINGPASSWORD", "reppass"}, {"REPORTINGUSERNAME", "repuser"},
      {"SOAPHOST", "soaphost"},      {"SOAPPASSWORD", "soappass"},
      {"SOAPPORT", "8080"},          {"SOAPURL", "https://reports/lumisto?wsdl"},
      {"SOAPUSERNAME", "soapuser"},  {"SOAPUSESSL", "1"},
      {"ZAVHOST", "zav01"},          {"ZAVHTTP", "zav01"},
  };
  EXPECT_EQ(table.values(), expected);
}

TEST_F(VariableTableTest, HostnameChangeReachesHostAndSoapurlAtTheNextRefresh) {
  VariableTable table(store, log);
  const struct {
    std::string hostname;
    std::string host;
  } cases[] = {
      {"http://zav01:52311", "zav01"},
      {"https://zav01.corp.example:52311/", "zav01.corp.example"},
      {"zav02", "zav02"},
      // Only a lower-case scheme is skipped; the host runs to the first ":".
      {"HTTP://zav01:52311", "HTTP"},
  };
  for (const auto& c : cases) {
    Put(kInstaller, "Hostname", c.hostname);
    table.Refresh();
    EXPECT_EQ(table.values().at("ZAVHOST"), c.host) << c.hostname;
    EXPECT_EQ(table.values().at("ZAVHTTP"), c.hostname);
    EXPECT_EQ(table.values().at("SOAPURL"), "http://" + c.host + "/lumisto?wsdl");
  }
}

TEST_F(VariableTableTest, EmptySoapHostFallsBackToZavhostReference) {
  Put(kReports, "SOAPHost", "");
  Put(kInstaller, "Hostname", "zav01");
  VariableTable table(store, log);
  EXPECT_EQ(table.values().at("SOAPHOST"), "%ZAVHOST%");
  std::string display;
  EXPECT_EQ(table.Substitute("%SOAPHOST%", display), "zav01");
  EXPECT_EQ(display, "%ZAVHOST%");
}

TEST_F(VariableTableTest, LmhttpChangeReachesSoapurlOnlyOneRefreshLater) {
  VariableTable table(store, log);
  Put(kReports, "LMHTTP", "https://reports:8443");
  table.Refresh();
  EXPECT_EQ(table.values().at("LMHTTP"), "https://reports:8443");
  EXPECT_EQ(table.values().at("SOAPURL"), "http://127.0.0.1/lumisto?wsdl");
  table.Refresh();
  EXPECT_EQ(table.values().at("SOAPURL"), "https://reports:8443/lumisto?wsdl");
}

TEST_F(VariableTableTest, FirstRefreshFormsSoapurlFromTheRegistryLmhttp) {
  // LMHTTP comes last in a refresh, so the first one must read it on demand.
  Put(kReports, "LMHTTP", "https://reports:8443");
  VariableTable table(store, log);
  EXPECT_EQ(table.values().at("SOAPURL"), "https://reports:8443/lumisto?wsdl");
}

TEST_F(VariableTableTest, ReferenceInRegistryValueIsStoredUnexpanded) {
  Put(kReports, "SOAPHost", "%ZAVHTTP%/soap");
  VariableTable table(store, log);
  EXPECT_EQ(table.values().at("SOAPHOST"), "%ZAVHTTP%/soap");
  std::string display;
  EXPECT_EQ(table.Substitute("-s %SOAPHOST%", display), "-s http://127.0.0.1:52311/soap");
  EXPECT_EQ(display, "-s %ZAVHTTP%/soap");
}

}  // namespace
}  // namespace hvs
