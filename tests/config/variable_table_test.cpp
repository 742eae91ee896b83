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
  testsupport::PutString(kDatabase, "DSN", "dsn");
  testsupport::PutString(kDatabase, "User", "dbuser");
  testsupport::PutString(kDatabase, "Password", "dbpass");
  testsupport::PutString(kClient + "_Lumisto_HTTPServer_UseSSLFlag", "value", "1");
  testsupport::PutString(kClient + "_Lumisto_HTTPServer_PortNumber", "value", "8080");
  testsupport::PutString(kInstaller, "Hostname", "zav01");
  testsupport::PutString(kReports, "LMHTTP", "https://reports");
  testsupport::PutString(kReports, "SOAPUsername", "soapuser");
  testsupport::PutString(kReports, "SOAPHost", "soaphost");
  testsupport::PutString(kReports, "SOAPPassword", "soappass");
  testsupport::PutString(kPallodex, "LocalDBDSN", "repdsn");
  testsupport::PutString(kPallodex, "Username", "repuser");
  testsupport::PutString(kPallodex, "Password", "reppass");
  testsupport::PutString(kClient + "_ZAVClient_Comm_ProxyServer", "value", "proxy");
  testsupport::PutString(kClient + "_ZAVClient_Comm_ProxyPort", "value", "3128");
  testsupport::PutString(kClient + "_ZAVClient_Comm_ProxyUser", "value", "puser");
  testsupport::PutString(kClient + "_ZAVClient_Comm_ProxyPassword", "value", "ppass");
  testsupport::PutString(kClient + "_ZAVClient_Comm_ProxyAutoDetect", "value", "yes");

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
    testsupport::PutString(kInstaller, "Hostname", c.hostname);
    table.Refresh();
    EXPECT_EQ(table.values().at("ZAVHOST"), c.host) << c.hostname;
    EXPECT_EQ(table.values().at("ZAVHTTP"), c.hostname);
    EXPECT_EQ(table.values().at("SOAPURL"), "http://" + c.host + "/lumisto?wsdl");
  }
}

TEST_F(VariableTableTest, EmptySoapHostFallsBackToZavhostReference) {
  testsupport::PutString(kReports, "SOAPHost", "");
  testsupport::PutString(kInstaller, "Hostname", "zav01");
  VariableTable table(store, log);
  EXPECT_EQ(table.values().at("SOAPHOST"), "%ZAVHOST%");
  std::string display;
  EXPECT_EQ(table.Substitute("%SOAPHOST%", display), "zav01");
  EXPECT_EQ(display, "%ZAVHOST%");
}

TEST_F(VariableTableTest, LmhttpChangeReachesSoapurlOnlyOneRefreshLater) {
  VariableTable table(store, log);
  testsupport::PutString(kReports, "LMHTTP", "https://reports:8443");
  table.Refresh();
  EXPECT_EQ(table.values().at("LMHTTP"), "https://reports:8443");
  EXPECT_EQ(table.values().at("SOAPURL"), "http://127.0.0.1/lumisto?wsdl");
  table.Refresh();
  EXPECT_EQ(table.values().at("SOAPURL"), "https://reports:8443/lumisto?wsdl");
}

TEST_F(VariableTableTest, FirstRefreshFormsSoapurlFromTheRegistryLmhttp) {
  // LMHTTP comes last in a refresh, so the first one must read it on demand.
  testsupport::PutString(kReports, "LMHTTP", "https://reports:8443");
  VariableTable table(store, log);
  EXPECT_EQ(table.values().at("SOAPURL"), "https://reports:8443/lumisto?wsdl");
}

TEST_F(VariableTableTest, ReferenceInRegistryValueIsStoredUnexpanded) {
  testsupport::PutString(kReports, "SOAPHost", "%ZAVHTTP%/soap");
  VariableTable table(store, log);
  EXPECT_EQ(table.values().at("SOAPHOST"), "%ZAVHTTP%/soap");
  std::string display;
  EXPECT_EQ(table.Substitute("-s %SOAPHOST%", display), "-s http://127.0.0.1:52311/soap");
  EXPECT_EQ(display, "-s %ZAVHTTP%/soap");
}

}  // namespace
}  // namespace hvs
