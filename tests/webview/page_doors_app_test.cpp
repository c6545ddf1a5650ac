// The doors of the page in the real program: where its view may go, what it may open, and how
// it comes back when its web process dies. A test page of our own is driven by callback URLs
// handed over by second starts; the desktop's handlers are recorders in the program's home.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"
#include "tests/support/fax_service_process.h"
#include "tests/support/temp_dir.h"

namespace {

class PageDoors : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_DISPLAY();
    ASSERT_TRUE(service.started());
    app.set_executable(
        install_beside_ui(install, std::string(TELVANA_SOURCE_DIR) + "/tests/webview/doors"));
    std::string defaults = "[Default Applications]\n";
    for (const char* scheme : {"http", "https", "mailto", "file", "smb"}) {
      defaults += register_recorder(scheme);
    }
    ASSERT_TRUE(write_file(app.home() + "/config/mimeapps.list", defaults));
  }
  void TearDown() override {
    if (app.running()) app.stop(SIGKILL);
  }

  // A desktop entry for scheme whose program appends its URL to opened(); its default line.
  std::string register_recorder(const std::string& scheme) {
    const std::string script = app.home() + "/record.sh";
    write_file(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + opened_path() + "'\n");
    chmod(script.c_str(), 0755);
    std::filesystem::create_directories(app.home() + "/data/applications");
    std::filesystem::create_directories(app.home() + "/config");
    write_file(app.home() + "/data/applications/test-" + scheme + ".desktop",
               "[Desktop Entry]\nType=Application\nName=Test\nExec=" + script +
                   " %u\nMimeType=x-scheme-handler/" + scheme + ";\nNoDisplay=true\n");
    return "x-scheme-handler/" + scheme + "=test-" + scheme + ".desktop\n";
  }
  std::string opened_path() const { return app.home() + "/opened.txt"; }
  std::string opened() const { return read_file(opened_path()); }

  bool log_has(const std::string& text, std::size_t count = 1) {
    return wait_until([&] { return count_of(app.log(), text) >= count || !app.running(); }) &&
           count_of(app.log(), text) >= count;
  }
  // Hands the page a command; true once the page has run it.
  bool command(const std::string& text) {
    const std::size_t before = count_of(app.log(), "[JS] log: command " + text + "\n");
    return app.run_again({"telvanaprinter://" + text}) == 0 &&
           log_has("[JS] log: command " + text + "\n", before + 1);
  }

  TempDir install;
  AppProcess app;
  FaxServiceProcess service{"demo-token",
                            std::string(TELVANA_SOURCE_DIR) + "/tests/webview/pages/foreign"};
};

TEST_F(PageDoors, TheViewShowsOnlyThePageAndHandsWebAddressesToTheBrowser) {
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(log_has("[JS] log: page ready\n")) << app.log() << app.stderr_text();
  const std::string foreign = service.url("/foreign.html");
  struct Case {
    std::string command;
    std::string line;    // the refusal's log line
    std::string opened;  // what the system browser got, empty for nothing
  } cases[] = {
      {"link?" + foreign, "Navigation refused, opened in the system browser: " + foreign, foreign},
      {"assign?" + foreign, "Navigation refused, opened in the system browser: " + foreign,
       foreign},
      {"assign?" + service.url("/redirect?to=") + foreign,
       "Navigation refused, opened in the system browser: " + service.url("/redirect?to=") +
           foreign,
       service.url("/redirect?to=") + foreign},
      {"blank?" + foreign, "New window refused, opened in the system browser: " + foreign, foreign},
      {"blank?smb://host/share", "New window refused: smb://host/share", ""},
      {"link?smb://host/share", "Navigation refused: smb://host/share", ""},
  };
  std::string expected_opened;
  for (const Case& c : cases) {
    const std::size_t before = count_of(app.log(), "[webview] " + c.line + "\n");
    ASSERT_TRUE(command(c.command)) << c.command << "\n" << app.log();
    EXPECT_TRUE(log_has("[webview] " + c.line + "\n", before + 1)) << c.command << "\n"
                                                                   << app.log();
    if (!c.opened.empty()) expected_opened += c.opened + "\n";
    EXPECT_TRUE(wait_until([&] { return opened() == expected_opened; })) << c.command << opened();
  }
  // The page is still the one shown: it takes the next hand-off, and no foreign document ever
  // sent a message or received a delivery; the foreign server never heard of the view at all.
  ASSERT_TRUE(command("alive"));
  EXPECT_EQ(service.requests(), "");
  EXPECT_EQ(count_of(app.log(), "message from a foreign page"), 0u);
  EXPECT_EQ(count_of(app.log(), "dropped"), 0u);
}

TEST_F(PageDoors, OpenBrowserOpensOnlyWebAndMailAddresses) {
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(log_has("[JS] log: page ready\n")) << app.log() << app.stderr_text();
  const struct {
    std::string url;
    bool opened;
  } cases[] = {
      {"https://fax.example.com/signin?next=%2Fhome", true},
      {"HTTP://fax.example.com/", true},
      {"mailto:support@example.com", true},
      {"file:///etc/passwd", false},
      {"smb://host/share", false},
      {"telvanaprinter://refused", false},
      {"javascript:alert(1)", false},
      {"ftp://host/file", false},
      {"no-scheme-at-all", false},
  };
  std::string expected_opened;
  for (const auto& c : cases) {
    ASSERT_TRUE(command("browser?" + c.url)) << c.url;
    const std::string line =
        c.opened ? "[openBrowser] " + c.url : "[openBrowser] Refused: " + c.url;
    EXPECT_TRUE(log_has(line + "\n")) << c.url << "\n" << app.log();
    if (c.opened) expected_opened += c.url + "\n";
    EXPECT_TRUE(wait_until([&] { return opened() == expected_opened; })) << c.url << opened();
  }
  // The app's own scheme never started a second instance of it.
  ASSERT_TRUE(command("alive"));
  EXPECT_EQ(count_of(app.log(), "command refused"), 0u);
}

// The pid of the program's web process (a descendant named by WebKit); -1 when there is none.
pid_t web_process_of(pid_t root) {
  std::map<pid_t, pid_t> parents;
  std::map<pid_t, std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = read_file(entry.path().string() + "/stat");
    const std::size_t open = stat.find('('), close = stat.rfind(')');
    // A killed process not yet reaped is no web process any more.
    if (open == std::string::npos || close == std::string::npos || stat[close + 2] == 'Z') {
      continue;
    }
    const pid_t pid = std::atoi(stat.c_str());
    names[pid] = stat.substr(open + 1, close - open - 1);
    parents[pid] = std::atoi(stat.c_str() + close + 4);
  }
  for (const auto& [pid, name] : names) {
    if (name.rfind("WebKitWebProces", 0) != 0) continue;
    for (pid_t up = parents[pid]; up > 1; up = parents[up]) {
      if (up == root) return pid;
    }
  }
  return -1;
}

TEST_F(PageDoors, APageWhoseWebProcessDiesIsLoadedAgainAFewTimes) {
  std::filesystem::create_directories(app.output_folder());
  const std::string waiting = app.output_folder() + "/waiting.pdf";
  ASSERT_TRUE(write_file(waiting, "%PDF-1.4 waiting"));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(log_has("[JS] log: printed " + waiting + "\n")) << app.log() << app.stderr_text();
  // Three deaths in a row bring the page back, with its watcher and the waiting file; the fourth
  // within the minute leaves the view as it is.
  for (std::size_t death = 1; death <= 4; ++death) {
    SCOPED_TRACE(death);
    pid_t web = -1;
    ASSERT_TRUE(wait_until([&] { return (web = web_process_of(app.pid())) > 0; }));
    ASSERT_EQ(kill(web, SIGKILL), 0);
    if (death <= 3) {
      EXPECT_TRUE(log_has("[webview] Web process crashed; loading the page again\n", death));
      EXPECT_TRUE(log_has("[JS] log: page ready\n", death + 1)) << app.log();
      EXPECT_TRUE(log_has("[JS] log: printed " + waiting + "\n", death + 1));
      // The new web process keeps the view's doors: a web document is still never asked for.
      const std::string foreign = service.url("/foreign.html");
      ASSERT_TRUE(command("assign?" + foreign));
      EXPECT_TRUE(log_has("Navigation refused, opened in the system browser: " + foreign, death));
    } else {
      EXPECT_TRUE(
          log_has("[webview] Web process crashed; reloaded 3 times within a minute, not again\n"));
    }
  }
  EXPECT_TRUE(app.running());
  EXPECT_EQ(count_of(app.log(), "[JS] log: page ready\n"), 4u);
  EXPECT_EQ(service.requests(), "");
}

}  // namespace
