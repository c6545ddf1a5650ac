// DNS-SD: with a message bus and avahi-daemon of the test's own on the loopback interface,
// ippfind finds the running printer under its name with its subtypes, and the announced printer
// answers at the announced path.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/e2e/mdns_daemons.h"
#include "tests/e2e/private_network.h"
#include "tests/printer/ipp_client.h"
#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"

namespace {

constexpr const char* PRINTER_NAME = "Send as Fax (Telvana)";

struct BrowseCase {
  const char* service_type;
  bool found;
};

TEST(DnsSd, IppfindFindsThePrinterWithItsSubtypes) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "DISPLAY is not set";
  if (!enable_loopback_multicast()) {
    GTEST_SKIP() << "needs a private network namespace (run as root, or under unshare --net)";
  }
  MdnsDaemons daemons;
  ASSERT_TRUE(daemons.started()) << daemons.output();
  AppProcess app;
  app.env()["DBUS_SYSTEM_BUS_ADDRESS"] = daemons.bus_address();
  ASSERT_TRUE(start_printer_app(app)) << app.log() << app.stderr_text();

  const std::string ippfind = "DBUS_SYSTEM_BUS_ADDRESS=" + shell_quote(daemons.bus_address()) +
                              " timeout 120 ippfind -T 10 ";
  // Found ones first: once the printer is found its announcement is complete, so a subtype it
  // does not carry is truly absent.
  const BrowseCase cases[] = {
      {"_ipp._tcp,_print", true},
      {"_ipp._tcp,_universal", true},
      {"_ipp._tcp", true},
      {"_ipp._tcp,_fax", false},
  };
  std::string announced_uri;
  for (const BrowseCase& c : cases) {
    SCOPED_TRACE(c.service_type);
    int status = -1;
    const std::string output = run_command(
        ippfind + c.service_type + " --literal-name " + shell_quote(PRINTER_NAME) + " --print 2>&1",
        &status);
    if (c.found) {
      EXPECT_EQ(status, 0) << output << daemons.output();
      EXPECT_NE(output.find(":8631/ipp/print/Send_as_Fax_(Telvana)\n"), std::string::npos)
          << output;
      if (announced_uri.empty() && status == 0) announced_uri = output.substr(0, output.find('\n'));
    } else {
      EXPECT_EQ(status, 1) << output;
      EXPECT_EQ(output, "");
    }
  }

  // The announced resource is the printer itself (reached on loopback, where it listens).
  ASSERT_FALSE(announced_uri.empty());
  const std::string path = announced_uri.substr(announced_uri.find(":8631/") + 5);
  int status = -1;
  const std::string answer = run_command(
      "timeout 120 ipptool -tv " + shell_quote("ipp://localhost:8631" + path) + " " +
          shell_quote(std::string(TELVANA_SOURCE_DIR) + "/tests/e2e/ipp/printer-name.test") +
          " 2>&1",
      &status);
  EXPECT_EQ(status, 0) << answer;
  EXPECT_TRUE(app.running()) << app.log() << app.stderr_text();
}

}  // namespace
