// The printer inside the running program: shutdown, port conflicts, leftovers, killed jobs.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/printer/ipp_client.h"
#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"

namespace {

// True when a listening TCP socket of the process is bound to a non-loopback address.
bool listens_beyond_loopback(pid_t pid) {
  const std::string sockets =
      run_command("ss -Hltnp 2>/dev/null | grep 'pid=" + std::to_string(pid) + ",'");
  std::size_t start = 0;
  while (start < sockets.size()) {
    const std::size_t end = sockets.find('\n', start);
    const std::string line = sockets.substr(start, end - start);
    if (!line.empty() && line.find("127.0.0.1:") == std::string::npos &&
        line.find("[::1]:") == std::string::npos) {
      return true;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

TEST(PrinterProcess, ListensOnLoopbackOnlyAndStopsPromptlyOnSignals) {
  SKIP_WITHOUT_DISPLAY();
  for (const int sig : {SIGTERM, SIGINT}) {
    AppProcess app;
    ASSERT_TRUE(start_printer_app(app)) << app.stderr_text();
    EXPECT_FALSE(listens_beyond_loopback(app.pid()));
    // Both loopback addresses are the printer's, so no other program can take the other one.
    const std::string listeners = run_command("ss -Hltnp 'sport = :8631' 2>/dev/null");
    EXPECT_NE(listeners.find("127.0.0.1:8631"), std::string::npos) << listeners;
    if (run_command("ip -6 addr show dev lo 2>/dev/null").find("::1") != std::string::npos) {
      EXPECT_NE(listeners.find("[::1]:8631"), std::string::npos) << listeners;
    }
    EXPECT_FALSE(port_open(9100));
    const pid_t pid = app.pid();
    // A generous bound: the framework alone would take up to 30 s to notice the stop.
    EXPECT_EQ(app.stop(sig, std::chrono::seconds(10)), 0) << "signal " << sig;
    // The spool folder of the run does not outlive it.
    for (const std::string& name : folder_entries(app.home() + "/runtime")) {
      EXPECT_NE(name.rfind(".telvana-spool-" + std::to_string(pid) + "-", 0), 0u) << name;
    }
    EXPECT_FALSE(port_open(PRINTER_PORT));
  }
}

TEST(PrinterProcess, PortInUseIsLoggedAndTheAppKeepsRunning) {
  SKIP_WITHOUT_DISPLAY();
  // Hold the port on both loopback addresses, as another program would.
  ASSERT_TRUE(wait_until([] { return !port_open(PRINTER_PORT); }, std::chrono::seconds(180)));
  const UniqueFd blocker = hold_loopback_port(AF_INET, PRINTER_PORT);
  ASSERT_TRUE(blocker.is_open());
  // Where the machine has an IPv6 loopback.
  const UniqueFd blocker6 = hold_loopback_port(AF_INET6, PRINTER_PORT);

  AppProcess app;
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(wait_until([&] {
    return app.log().find("Failed to add TCP listeners on port 8631.") != std::string::npos;
  })) << app.log();
  EXPECT_TRUE(app.running());
  EXPECT_EQ(app.stop(SIGTERM), 0);
}

TEST(PrinterProcess, AJobCutOffByAKillLeavesNoPdf) {
  SKIP_WITHOUT_DISPLAY();
  TempDir inputs;
  std::string big(30 * 1024 * 1024, 'x');
  big.replace(0, 9, "%PDF-1.4\n");
  ASSERT_TRUE(write_file(inputs / "big.pdf", big));
  AppProcess app;
  ASSERT_TRUE(start_printer_app(app));
  const std::string command =
      "timeout 60 ipptool -f " + shell_quote(inputs / "big.pdf") +
      " -d format=application/pdf -d job_name=Killed " + shell_quote(printer_uri()) + " " +
      shell_quote(std::string(TELVANA_SOURCE_DIR) + "/tests/printer/ipp/print-named.test") +
      " >/dev/null 2>&1 &";
  ASSERT_EQ(system(command.c_str()), 0);
  // Kill the program while the document is being received or written.
  ASSERT_TRUE(wait_until(
      [&] {
        for (const std::string& name : folder_entries(app.output_folder())) {
          if (name.rfind(".telvana-job-", 0) == 0) return true;
        }
        return run_command("ls " + shell_quote(app.home()) + "/runtime/.telvana-spool-*/p* " +
                           "2>/dev/null")
                   .size() > 0;
      },
      std::chrono::seconds(30)));
  kill(app.pid(), SIGKILL);
  app.wait_exit();
  EXPECT_TRUE(pdf_files(app.output_folder()).empty());

  // The next start clears the hidden leftovers of the killed run, and its spool folder that
  // still holds the document.
  const std::string runtime = app.home() + "/runtime";
  const std::string killed_spool = run_command(
      "ls -d " + shell_quote(runtime) + "/.telvana-spool-" + std::to_string(app.pid()) + "-*");
  ASSERT_FALSE(killed_spool.empty());
  AppProcess again;
  again.set_output_folder(app.output_folder());
  again.env()["XDG_RUNTIME_DIR"] = runtime;
  ASSERT_TRUE(start_printer_app(again));
  for (const std::string& name : folder_entries(app.output_folder())) {
    EXPECT_NE(name.rfind(".telvana-job-", 0), 0u) << name;
  }
  EXPECT_NE(access(killed_spool.substr(0, killed_spool.find('\n')).c_str(), F_OK), 0)
      << killed_spool << " was left behind";
  EXPECT_EQ(again.stop(SIGTERM), 0);
}

}  // namespace
