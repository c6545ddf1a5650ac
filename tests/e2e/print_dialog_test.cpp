// Printing as applications do, on a desktop whose avahi-daemon and CUPS run in their default
// configuration: GTK's print dialog (what Firefox, Evince and gedit show) and a Qt print find the
// announced printer, CUPS makes its queue for it, and the document arrives with its pages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/e2e/local_desktop.h"
#include "tests/e2e/private_network.h"
#include "tests/printer/ipp_client.h"
#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"

namespace {

constexpr const char* QUEUE_NAME = "Send_as_Fax_Telvana";

struct DialogCase {
  const char* client;  // a script of tests/e2e/clients
  const char* title;
};

struct NameServiceCase {
  const char* hosts;
  std::vector<DialogCase> prints;
};

TEST(PrintDialogs, GtkAndQtApplicationsPrintThroughTheDesktopsCups) {
  SKIP_WITHOUT_DISPLAY();
  if (!in_private_network()) {
    GTEST_SKIP() << "needs a private network namespace (run as root, or under unshare --net)";
  }
  const NameServiceCase cases[] = {
      {HOSTS_WITH_MDNS,
       {{"gtk_print.py", "Fäx from GTK – mdns"}, {"qt_print.py", "Fäx from Qt – mdns"}}},
      {HOSTS_WITHOUT_MDNS, {{"qt_print.py", "Fäx from Qt – no mdns"}}},
  };
  for (const NameServiceCase& hosts : cases) {
    SCOPED_TRACE(hosts.hosts);
    LocalDesktop desktop(hosts.hosts);
    ASSERT_TRUE(desktop.started()) << desktop.output();
    AppProcess app;
    app.env()["DBUS_SYSTEM_BUS_ADDRESS"] = desktop.bus_address();
    ASSERT_TRUE(start_printer_app(app)) << app.log() << app.stderr_text();
    ASSERT_TRUE(wait_until([&] {
      return desktop.run("lpstat -e").output.find(QUEUE_NAME) != std::string::npos;
    })) << app.log();

    TempDir home;
    for (const DialogCase& print : hosts.prints) {
      SCOPED_TRACE(print.client);
      const CommandRun run = desktop.run(
          "HOME=" + shell_quote(home.path()) + " /usr/bin/python3 " +
          shell_quote(std::string(TELVANA_SOURCE_DIR) + "/tests/e2e/clients/" + print.client) +
          " " + QUEUE_NAME + " " + shell_quote(print.title));
      ASSERT_EQ(run.status, 0) << run.output << desktop.output() << app.log();
      const std::string output = app.output_folder() + "/" + print.title + ".pdf";
      ASSERT_TRUE(
          wait_until([&] { return access(output.c_str(), F_OK) == 0; }, std::chrono::seconds(60)))
          << run.output << desktop.output() << app.log();
      EXPECT_EQ(pdf_info(output).pages, 2) << pdf_info(output).text;
      const std::string text = run_command("pdftotext " + shell_quote(output) + " - 2>&1");
      EXPECT_NE(text.find(std::string(print.title) + " page 1"), std::string::npos) << text;
      EXPECT_NE(text.find(std::string(print.title) + " page 2"), std::string::npos) << text;
    }
  }
}

}  // namespace
