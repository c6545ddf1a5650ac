// A callback URL through the desktop: the program, started hidden, registers its
// URL scheme in the user's folders; `gio open` launches it a second time for a URL, and the
// reference page's handleCallback receives the URL while the window comes forward.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/e2e/reference_page.h"
#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"
#include "tests/support/x_window.h"

namespace {

struct CallbackCase {
  const char* name;
  const char* url;
};

TEST(CallbackRoad, GioOpenReachesTheHiddenReferencePage) {
  SKIP_WITHOUT_DISPLAY();
  TempDir install;
  AppProcess app;
  app.set_executable(install_reference_page(install, std::nullopt));
  ASSERT_TRUE(app.start({"--hidden"}));
  ASSERT_TRUE(wait_until([&] {
    return app.log().find(page_line("e2e driver ready")) != std::string::npos || !app.running();
  })) << app.log();
  ASSERT_TRUE(app.running()) << app.log() << app.stderr_text();
  EXPECT_FALSE(window_viewable(app.pid()));

  // The desktop's own tools, in the program's private folders.
  std::string desktop_env = "env DISPLAY=" + shell_quote(std::getenv("DISPLAY"));
  for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                           "XDG_RUNTIME_DIR", "TELVANA_OUTPUT_DIR"}) {
    desktop_env += std::string(" ") + name + "=" + shell_quote(app.env()[name]);
  }
  EXPECT_NE(run_command(desktop_env + " gio mime x-scheme-handler/telvanaprinter 2>&1")
                .find("telvanaprinter.desktop"),
            std::string::npos);

  const CallbackCase cases[] = {
      {"sign-in answer", "telvanaprinter://signin/done?code=A1b2&state=xyz"},
      {"escaped text", "telvanaprinter://done?name=O%27Brien%20Ltd"},
  };
  for (const CallbackCase& c : cases) {
    SCOPED_TRACE(c.name);
    int status = -1;
    const std::string output =
        run_command(desktop_env + " timeout 60 gio open " + shell_quote(c.url) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << output;
    const std::string line = page_line("e2e status Signed in: " + std::string(c.url));
    EXPECT_TRUE(wait_until([&] { return app.log().find(line) != std::string::npos; })) << app.log();
    EXPECT_EQ(count_of(app.log(), line), 1u);
  }
  EXPECT_TRUE(wait_until([&] { return window_viewable(app.pid()); }));
  EXPECT_EQ(count_of(app.log(), "[JS] log: e2e status Signed in: "), 2u) << app.log();
}

}  // namespace
