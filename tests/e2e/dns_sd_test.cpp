// DNS-SD on a desktop set up the Debian way (avahi-daemon in its default configuration, a CUPS
// scheduler) with another host on the link: the printer is found and printed to through CUPS's
// driverless queue here, comes back after avahi-daemon starts late or restarts, and the other
// host finds nothing of it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <vector>

#include "tests/e2e/cups_server.h"
#include "tests/e2e/mdns_daemons.h"
#include "tests/e2e/private_network.h"
#include "tests/e2e/test_documents.h"
#include "tests/printer/ipp_client.h"
#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"

namespace {

constexpr const char* PRINTER_NAME = "Send as Fax (Telvana)";
constexpr const char* QUEUE_NAME = "Send_as_Fax_Telvana";
constexpr const char* ABSENT_LINE =
    "[printer] DNS-SD: avahi-daemon is not running; the printer will be announced when it starts.";

struct BrowseCase {
  const char* service_type;
  bool found;
};

// Splits a line of avahi-browse -p output at its unescaped separators.
std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> result;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, ';')) result.push_back(field);
  return result;
}

std::string with_bus(const std::string& bus, const std::string& command) {
  return "DBUS_SYSTEM_BUS_ADDRESS=" + shell_quote(bus) + " timeout 120 " + command + " 2>&1";
}

TEST(DnsSd, FoundAndUsedHereAfterAvahiComesAndGoesAndUnseenByAnotherHost) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "DISPLAY is not set";
  if (!in_private_network()) {
    GTEST_SKIP() << "needs a private network namespace (run as root, or under unshare --net)";
  }
  // The other host: its own bus, avahi-daemon and CUPS scheduler.
  OtherHost other;
  ASSERT_TRUE(other.started()) << other.output();
  std::unique_ptr<MdnsDaemons> there;
  std::unique_ptr<CupsServer> there_cups;
  {
    OtherHost::Visit visit(other);
    ASSERT_TRUE(visit.entered());
    there = std::make_unique<MdnsDaemons>();
    ASSERT_TRUE(there->started()) << there->output();
    there_cups = std::make_unique<CupsServer>(
        std::map<std::string, std::string>{{"DBUS_SYSTEM_BUS_ADDRESS", there->bus_address()}});
    ASSERT_TRUE(there_cups->started()) << there_cups->error_log();
  }

  // This host: the bus is up, avahi-daemon starts only after the program.
  MdnsDaemons here(false);
  ASSERT_TRUE(here.started()) << here.output();
  const std::string bus = here.bus_address();
  CupsServer cups({{"DBUS_SYSTEM_BUS_ADDRESS", bus}});
  ASSERT_TRUE(cups.started()) << cups.error_log();
  AppProcess app;
  app.env()["DBUS_SYSTEM_BUS_ADDRESS"] = bus;
  ASSERT_TRUE(start_printer_app(app)) << app.log() << app.stderr_text();
  ASSERT_TRUE(wait_until([&] { return app.log().find(ABSENT_LINE) != std::string::npos; }))
      << app.log();
  sleep(3);
  EXPECT_EQ(count_of(app.log(), ABSENT_LINE), 1u) << app.log();
  ASSERT_TRUE(here.start_avahi()) << here.output();

  // Found ones first: once the printer is found its announcement is complete, so a subtype it
  // does not carry is truly absent.
  const BrowseCase cases[] = {
      {"_ipp._tcp,_print", true},
      {"_ipp._tcp,_universal", true},
      {"_ipp._tcp", true},
      {"_ipp._tcp,_fax", false},
  };
  for (const BrowseCase& c : cases) {
    SCOPED_TRACE(c.service_type);
    int status = -1;
    const std::string output =
        run_command(with_bus(bus, std::string("ippfind -T 10 ") + c.service_type +
                                      " --literal-name " + shell_quote(PRINTER_NAME) + " --print"),
                    &status);
    if (c.found) {
      EXPECT_EQ(status, 0) << output << here.output();
      EXPECT_NE(output.find(":8631/ipp/print/Send_as_Fax_(Telvana)\n"), std::string::npos)
          << output;
    } else {
      EXPECT_EQ(status, 1) << output;
      EXPECT_EQ(output, "");
    }
  }

  // The announced resource is the printer itself, at a loopback address, on the loopback
  // interface only, with no TLS key (TLS is off), no adminurl (no web page) and its own UUID.
  int status = -1;
  const std::string answer = run_command(
      "timeout 120 ipptool -tv " + shell_quote(printer_uri() + "/Send_as_Fax_(Telvana)") + " " +
          shell_quote(std::string(TELVANA_SOURCE_DIR) + "/tests/e2e/ipp/printer-name.test") +
          " 2>&1",
      &status);
  ASSERT_EQ(status, 0) << answer;
  const std::string uuid_label = "printer-uuid (uri) = urn:uuid:";
  const std::size_t uuid_at = answer.find(uuid_label);
  ASSERT_NE(uuid_at, std::string::npos) << answer;
  const std::string uuid = answer.substr(uuid_at + uuid_label.size(), 36);
  const std::string resolved = run_command(with_bus(bus, "avahi-browse -r -t -p _ipp._tcp"));
  int records = 0;
  std::istringstream lines(resolved);
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> f = fields(line);
    if (f.size() < 10 || f[0] != "=" || f[3].find("Telvana") == std::string::npos) continue;
    ++records;
    EXPECT_EQ(f[1], "lo") << line;
    EXPECT_TRUE(f[7].rfind("127.", 0) == 0 || f[7] == "::1") << line;
    EXPECT_EQ(f[8], "8631") << line;
    EXPECT_EQ(f[9].find("\"TLS="), std::string::npos) << line;
    EXPECT_EQ(f[9].find("\"adminurl="), std::string::npos) << line;
    EXPECT_NE(f[9].find("\"UUID=" + uuid + "\""), std::string::npos) << line;
    EXPECT_NE(f[9].find("\"rp=ipp/print/Send_as_Fax_(Telvana)\""), std::string::npos) << line;
  }
  EXPECT_GT(records, 0) << resolved;

  // avahi-daemon restarts while the program runs: the printer comes back by itself.
  here.stop_avahi();
  ASSERT_TRUE(here.start_avahi()) << here.output();
  ASSERT_TRUE(wait_until(
      [&] { return cups.run("lpstat", {"-e"}).output.find(QUEUE_NAME) != std::string::npos; },
      std::chrono::seconds(30)))
      << cups.run("lpstat", {"-e"}).output << app.log();

  // A service of this host announced on every interface shows that the other host hears this
  // one: what it does not list was not announced to it.
  TempDir work;
  ChildProcess control;
  ASSERT_TRUE(control.start({"avahi-publish", "-s", "Control Printer", "_ipp._tcp", "631"},
                            {{"DBUS_SYSTEM_BUS_ADDRESS", bus}}, work / "control.log"));

  // A print through CUPS's temporary queue for the discovered printer.
  ASSERT_TRUE(write_file(work / "doc.pdf", text_pdf({"Found on this desktop", "Second page"})));
  const CommandRun print = cups.run("lp", {"-d", QUEUE_NAME, "-t", "Discovered", work / "doc.pdf"});
  ASSERT_EQ(print.status, 0) << print.output << cups.error_log();
  const std::string output = app.output_folder() + "/Discovered.pdf";
  ASSERT_TRUE(
      wait_until([&] { return access(output.c_str(), F_OK) == 0; }, std::chrono::seconds(120)))
      << app.log()
      << cups.error_log().substr(cups.error_log().size() > 6000 ? cups.error_log().size() - 6000
                                                                : 0);
  EXPECT_EQ(pdf_info(output).pages, 2) << pdf_info(output).text;
  EXPECT_EQ(run_command("pdftotext " + shell_quote(output) + " -"),
            run_command("pdftotext " + shell_quote(work / "doc.pdf") + " -"));

  // The other host hears this one, yet lists nothing of the printer.
  {
    OtherHost::Visit visit(other);
    ASSERT_TRUE(visit.entered());
    const std::string there_bus = there->bus_address();
    std::string browsed;
    EXPECT_TRUE(wait_until([&] {
      browsed = run_command(with_bus(there_bus, "avahi-browse -a -r -t -p"));
      return browsed.find("Control\\032Printer") != std::string::npos;
    })) << browsed;
    EXPECT_EQ(browsed.find("Telvana"), std::string::npos) << browsed;
    const std::string found = run_command(with_bus(there_bus, "ippfind -T 5 _ipp._tcp -s"));
    EXPECT_NE(found.find("Control Printer"), std::string::npos) << found;
    EXPECT_EQ(found.find("Telvana"), std::string::npos) << found;
    const CommandRun listed = there_cups->run("lpstat", {"-e"});
    EXPECT_NE(listed.output.find("Control_Printer"), std::string::npos) << listed.output;
    EXPECT_EQ(listed.output.find("Telvana"), std::string::npos) << listed.output;
  }

  // One line for each time the daemon was missing.
  EXPECT_EQ(count_of(app.log(), ABSENT_LINE), 2u) << app.log();
  EXPECT_TRUE(app.running()) << app.log() << app.stderr_text();
  control.stop();
}

TEST(DnsSd, WithoutAMessageBusOneLineIsLoggedUntilTheBusAppears) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "DISPLAY is not set";
  if (!in_private_network()) {
    GTEST_SKIP() << "needs a private network namespace (run as root, or under unshare --net)";
  }
  TempDir nowhere;
  AppProcess app;
  app.env()["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + nowhere / "bus";
  ASSERT_TRUE(start_printer_app(app)) << app.log() << app.stderr_text();
  const std::string unreachable = "[printer] DNS-SD: avahi-daemon cannot be reached: ";
  ASSERT_TRUE(wait_until([&] { return app.log().find(unreachable) != std::string::npos; }))
      << app.log();
  // Long enough for two more attempts.
  sleep(4);
  EXPECT_EQ(count_of(app.log(), unreachable), 1u) << app.log();

  // The bus (and avahi-daemon on it) appear where the program looks for them.
  MdnsDaemons daemons;
  ASSERT_TRUE(daemons.started()) << daemons.output();
  const std::string bus_path = daemons.bus_address().substr(std::string("unix:path=").size());
  ASSERT_EQ(symlink(bus_path.c_str(), (nowhere / "bus").c_str()), 0);
  EXPECT_TRUE(wait_until(
      [&] {
        return run_command(with_bus(daemons.bus_address(), "avahi-browse -t -p _ipp._tcp"))
                   .find("Telvana") != std::string::npos;
      },
      std::chrono::seconds(40)))
      << app.log();
  EXPECT_EQ(count_of(app.log(), unreachable), 1u) << app.log();
  EXPECT_TRUE(app.running()) << app.log() << app.stderr_text();
}

}  // namespace
