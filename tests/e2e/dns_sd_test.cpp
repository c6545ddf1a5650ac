// DNS-SD on a desktop set up the Debian way (avahi-daemon and CUPS in their default
// configuration) with another host on the link: the printer is found and printed to through
// CUPS's driverless queue here, comes back after avahi-daemon starts late or restarts, leads
// whoever resolves it to the loopback addresses, and the other host finds nothing of it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <vector>

#include "tests/e2e/local_desktop.h"
#include "tests/e2e/private_network.h"
#include "tests/e2e/test_documents.h"
#include "tests/printer/ipp_client.h"
#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"

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

TEST(DnsSd, FoundAndUsedHereAfterAvahiComesAndGoesAndUnseenByAnotherHost) {
  SKIP_WITHOUT_DISPLAY();
  if (!in_private_network()) {
    GTEST_SKIP() << "needs a private network namespace (run as root, or under unshare --net)";
  }
  // The other host: its own bus, avahi-daemon and CUPS scheduler.
  OtherHost other;
  ASSERT_TRUE(other.started()) << other.output();
  std::unique_ptr<LocalDesktop> there;
  {
    OtherHost::Visit visit(other);
    ASSERT_TRUE(visit.entered());
    there = std::make_unique<LocalDesktop>();
    ASSERT_TRUE(there->started()) << there->output();
  }

  // This host, with libnss-mdns: the bus and CUPS are up, avahi-daemon starts only after the
  // program.
  LocalDesktop here(HOSTS_WITH_MDNS, false);
  ASSERT_TRUE(here.started()) << here.output();
  const std::string bus = here.bus_address();
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
    const CommandRun found = here.run(std::string("ippfind -T 10 ") + c.service_type +
                                      " --literal-name " + shell_quote(PRINTER_NAME) + " --print");
    if (c.found) {
      EXPECT_EQ(found.status, 0) << found.output << here.output();
      EXPECT_NE(found.output.find(":8631/ipp/print/Send_as_Fax_(Telvana)\n"), std::string::npos)
          << found.output;
    } else {
      EXPECT_EQ(found.status, 1) << found.output;
      EXPECT_EQ(found.output, "");
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
  // The services lead to a host name of the printer's own, announced in the log, whose only
  // addresses are the loopback ones: through avahi and through the name service alike.
  const std::string host_label = "on the loopback interface, as host ";
  const std::string log = app.log();
  const std::size_t host_at = log.find(host_label);
  ASSERT_NE(host_at, std::string::npos) << log;
  const std::string host = log.substr(host_at + host_label.size(),
                                      log.find(".\n", host_at) - host_at - host_label.size());
  EXPECT_EQ(here.run("getent ahostsv4 " + shell_quote(host) + " | cut -d' ' -f1 | sort -u").output,
            "127.0.0.1\n");
  const std::string resolved = here.run("avahi-browse -r -t -p _ipp._tcp").output;
  int records = 0;
  std::istringstream lines(resolved);
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> f = fields(line);
    if (f.size() < 10 || f[0] != "=" || f[3].find("Telvana") == std::string::npos) continue;
    ++records;
    EXPECT_EQ(f[1], "lo") << line;
    EXPECT_EQ(f[6], host) << line;
    EXPECT_TRUE(f[7] == "127.0.0.1" || f[7] == "::1") << line;
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
  ASSERT_TRUE(
      wait_until([&] { return here.run("lpstat -e").output.find(QUEUE_NAME) != std::string::npos; },
                 std::chrono::seconds(30)))
      << here.run("lpstat -e").output << app.log();

  // A service of this host announced on every interface shows that the other host hears this
  // one: what it does not list was not announced to it.
  TempDir work;
  ChildProcess control;
  ASSERT_TRUE(control.start({"avahi-publish", "-s", "Control Printer", "_ipp._tcp", "631"},
                            {{{"DBUS_SYSTEM_BUS_ADDRESS", bus}}, work / "control.log"}));

  // A print through CUPS's temporary queue for the discovered printer.
  ASSERT_TRUE(write_file(work / "doc.pdf", text_pdf({"Found on this desktop", "Second page"})));
  const CommandRun print = here.run(std::string("lp -d ") + QUEUE_NAME + " -t Discovered " +
                                    shell_quote(work / "doc.pdf"));
  ASSERT_EQ(print.status, 0) << print.output << here.output();
  const std::string output = app.output_folder() + "/Discovered.pdf";
  ASSERT_TRUE(
      wait_until([&] { return access(output.c_str(), F_OK) == 0; }, std::chrono::seconds(120)))
      << app.log() << here.output();
  EXPECT_EQ(pdf_info(output).pages, 2) << pdf_info(output).text;
  EXPECT_EQ(run_command("pdftotext " + shell_quote(output) + " -"),
            run_command("pdftotext " + shell_quote(work / "doc.pdf") + " -"));

  // The other host hears this one, yet lists nothing of the printer.
  {
    OtherHost::Visit visit(other);
    ASSERT_TRUE(visit.entered());
    std::string browsed;
    EXPECT_TRUE(wait_until([&] {
      browsed = there->run("avahi-browse -a -r -t -p").output;
      return browsed.find("Control\\032Printer") != std::string::npos;
    })) << browsed;
    EXPECT_EQ(browsed.find("Telvana"), std::string::npos) << browsed;
    EXPECT_EQ(browsed.find(host), std::string::npos) << browsed;
    const std::string there_resolved =
        there->run("avahi-resolve-host-name -4 " + shell_quote(host)).output;
    EXPECT_EQ(there_resolved.find(host + "\t"), std::string::npos) << there_resolved;
    EXPECT_NE(there_resolved.find("Failed to resolve"), std::string::npos) << there_resolved;
    const std::string found = there->run("ippfind -T 5 _ipp._tcp -s").output;
    EXPECT_NE(found.find("Control Printer"), std::string::npos) << found;
    EXPECT_EQ(found.find("Telvana"), std::string::npos) << found;
    const CommandRun listed = there->run("lpstat -e");
    EXPECT_NE(listed.output.find("Control_Printer"), std::string::npos) << listed.output;
    EXPECT_EQ(listed.output.find("Telvana"), std::string::npos) << listed.output;
  }

  // One line for each time the daemon was missing.
  EXPECT_EQ(count_of(app.log(), ABSENT_LINE), 2u) << app.log();
  EXPECT_TRUE(app.running()) << app.log() << app.stderr_text();
  control.stop();
}

TEST(DnsSd, WithoutAMessageBusOneLineIsLoggedUntilTheBusAppears) {
  SKIP_WITHOUT_DISPLAY();
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
  LocalDesktop daemons;
  ASSERT_TRUE(daemons.started()) << daemons.output();
  const std::string bus_path = daemons.bus_address().substr(std::string("unix:path=").size());
  ASSERT_EQ(symlink(bus_path.c_str(), (nowhere / "bus").c_str()), 0);
  EXPECT_TRUE(wait_until(
      [&] {
        return daemons.run("avahi-browse -t -p _ipp._tcp").output.find("Telvana") !=
               std::string::npos;
      },
      std::chrono::seconds(40)))
      << app.log();
  EXPECT_EQ(count_of(app.log(), unreachable), 1u) << app.log();
  EXPECT_TRUE(app.running()) << app.log() << app.stderr_text();
}

}  // namespace
