// A callback URL all the way through the real program: a running instance with a test page
// of its own, second starts (direct, and launched by gio for the registered scheme), and what the
// page's handleCallback receives.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/callback_handoff.h"
#include "app/handoff_frame.h"
#include "app/url_scheme.h"
#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"
#include "tests/support/temp_dir.h"
#include "tests/support/x_window.h"

namespace {

// The line the test page logs for a callback URL.
std::string callback_line(const std::string& url) {
  return "[JS] log: callback [" + url + "]\n";
}

// Sends raw bytes as a misbehaving local client would; true when the program answered.
bool send_raw(const std::string& path, const std::string& bytes, bool close_early) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return false;
  }
  send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  if (close_early) shutdown(fd, SHUT_WR);
  char answer[4];
  const bool answered = recv(fd, answer, sizeof answer, 0) > 0;
  close(fd);
  return answered;
}

std::string header(std::uint64_t dw_data, std::uint32_t cb_data) {
  std::string bytes(HANDOFF_HEADER_SIZE, '\0');
  std::memcpy(bytes.data(), &dw_data, 8);
  std::memcpy(bytes.data() + 8, &cb_data, 4);
  return bytes;
}

class RunningInstance : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_DISPLAY();
    executable = install_beside_ui(install, std::string(TELVANA_SOURCE_DIR) + "/tests/app/pages");
    app.set_executable(executable);
  }
  void TearDown() override {
    if (app.running()) app.stop(SIGKILL);
  }
  bool log_has(const std::string& text) {
    return wait_until(
               [&] { return app.log().find(text) != std::string::npos || !app.running(); }) &&
           app.log().find(text) != std::string::npos;
  }
  std::string socket_path() const { return app.home() + "/runtime/TelvanaPrintApp.sock"; }

  TempDir install;
  std::string executable;
  AppProcess app;
};

struct CallbackCase {
  const char* name;
  std::vector<std::string> args;
  std::string delivered;  // the URL the page must receive
};

TEST_F(RunningInstance, SecondStartsGiveTheUrlToThePage) {
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(log_has("[JS] log: page ready\n")) << app.log() << app.stderr_text();
  const CallbackCase cases[] = {
      {"quoted", {"\"telvanaprinter://done?id=7\""}, "telvanaprinter://done?id=7"},
      {"text after a space", {"telvanaprinter://cut?a=1", "rest"}, "telvanaprinter://cut?a=1"},
      {"apostrophe and backslash", {"telvanaprinter://it's\\fine"}, "telvanaprinter://it's\\fine"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(app.run_again(c.args), 0) << c.name;
    EXPECT_TRUE(log_has(callback_line(c.delivered))) << c.name << "\n" << app.log();
  }
  EXPECT_EQ(count_of(app.log(), "[JS] log: callback ["), 3u);
  EXPECT_EQ(count_of(app.log(), "callback [telvanaprinter://cut?a=1 rest"), 0u);
}

TEST_F(RunningInstance, OtherPayloadsOnlyBringTheWindowForward) {
  ASSERT_TRUE(app.start({"--hidden"}));
  ASSERT_TRUE(log_has("[JS] log: page ready\n")) << app.log();
  EXPECT_FALSE(window_viewable(app.pid()));

  // A plain second start, as from a menu: the hidden window comes back, the page is not called.
  EXPECT_EQ(app.run_again({}), 0);
  EXPECT_TRUE(wait_until([&] { return window_viewable(app.pid()); }));
  // Payloads the program's own sender never makes (wrong case, other scheme) reach the receiver
  // only from another client; it answers but leaves the page alone.
  for (const char16_t* payload : {u"TelvanaPrinter://x", u"https://example.com/", u""}) {
    const HandoffOutcome outcome =
        send_handoff(socket_path(), encode_handoff_frame(payload), std::chrono::seconds(0));
    EXPECT_EQ(outcome.answer, 1);
  }
  EXPECT_EQ(app.run_again({"TELVANAPRINTER://y"}), 0);
  // A last good one proves the page is listening; nothing before it reached the page.
  EXPECT_EQ(app.run_again({"telvanaprinter://last"}), 0);
  ASSERT_TRUE(log_has(callback_line("telvanaprinter://last")));
  EXPECT_EQ(count_of(app.log(), "[JS] log: callback ["), 1u);
}

TEST_F(RunningInstance, MisbehavingClientsAreRejectedAndTheInstanceKeepsWorking) {
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(log_has("[JS] log: page ready\n")) << app.log();
  struct {
    const char* name;
    std::string bytes;
    bool close_early;
  } cases[] = {
      {"oversized cbData", header(0, 0x7fffffff), false},
      {"odd cbData", header(0, 7) + "1234567", false},
      {"no NUL", header(0, 4) + std::string("a\0b\0", 4), false},
      {"closed early", encode_handoff_frame(u"telvanaprinter://half").substr(0, 20), true},
  };
  for (const auto& c : cases)
    EXPECT_FALSE(send_raw(socket_path(), c.bytes, c.close_early)) << c.name;
  EXPECT_EQ(count_of(app.log(), "[callback] Hand-off frame rejected: "), 4u);
  EXPECT_EQ(app.run_again({"telvanaprinter://after"}), 0);
  EXPECT_TRUE(log_has(callback_line("telvanaprinter://after")));
  EXPECT_EQ(count_of(app.log(), "[JS] log: callback ["), 1u);
}

TEST_F(RunningInstance, FirstInstanceStartedWithAUrlGivesItToThePage) {
  // The desktop started the program for a URL while it was not running: the URL arrives before
  // the page exists and must reach it once it has loaded.
  ASSERT_TRUE(app.start({"\"telvanaprinter://first?run=1\""}));
  ASSERT_TRUE(log_has(callback_line("telvanaprinter://first?run=1"))) << app.log();
  EXPECT_EQ(count_of(app.log(), "[JS] log: callback ["), 1u);
}

TEST_F(RunningInstance, SecondStartBeforeThePageHasLoadedIsKept) {
  // A second start as soon as the instance listens, before or after its page has loaded: either
  // way the page gets the URL exactly once.
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(wait_until([&] {
    struct stat info {};
    return stat(socket_path().c_str(), &info) == 0 || !app.running();
  }));
  EXPECT_EQ(app.run_again({"telvanaprinter://early"}), 0);
  EXPECT_TRUE(log_has(callback_line("telvanaprinter://early"))) << app.log();
  EXPECT_TRUE(log_has("[JS] log: page ready\n"));
  EXPECT_EQ(count_of(app.log(), callback_line("telvanaprinter://early")), 1u);
}

TEST_F(RunningInstance, RegistersItselfAndGioOpenReachesThePage) {
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(log_has("[JS] log: page ready\n")) << app.log();
  char real[PATH_MAX] = {};
  ASSERT_NE(realpath(executable.c_str(), real), nullptr);
  const std::string command = url_scheme_command(real);
  const std::string entry = read_file(app.home() + "/data/applications/telvanaprinter.desktop");
  EXPECT_NE(entry.find("\nExec=" + command + "\n"), std::string::npos) << entry;
  EXPECT_NE(read_file(app.home() + "/config/mimeapps.list")
                .find("x-scheme-handler/telvanaprinter=telvanaprinter.desktop"),
            std::string::npos);
  EXPECT_TRUE(log_has("[scheme] Registered telvanaprinter:// -> " + command + "\n"));

  // gio looks the scheme up in the same private folders and starts the program a second time.
  ChildSetup desktop;
  for (const char* name :
       {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "TELVANA_OUTPUT_DIR"}) {
    desktop.env[name] = app.env()[name];
  }
  ChildProcess gio;
  ASSERT_TRUE(gio.start({"gio", "open", "telvanaprinter://x"}, desktop));
  EXPECT_EQ(gio.wait_exit(std::chrono::seconds(60)), 0);
  EXPECT_TRUE(log_has(callback_line("telvanaprinter://x"))) << app.log();
  EXPECT_NE(app.log().find("[startup] Second instance, cmdline: telvanaprinter://x"),
            std::string::npos);
}

}  // namespace
