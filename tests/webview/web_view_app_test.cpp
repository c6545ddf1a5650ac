// The real program showing a test page from a ui folder of its own (beside a copy of the
// executable): the page's state lives across restarts in the profile in the output folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/app_process.h"
#include "tests/support/temp_dir.h"

namespace {

bool log_has(AppProcess& app, const std::string& text) {
  return wait_until([&] { return app.log().find(text) != std::string::npos || !app.running(); }) &&
         app.log().find(text) != std::string::npos;
}

TEST(WebViewApp, PageStateLivesAcrossARestart) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "DISPLAY is not set";
  TempDir install;
  AppProcess app;
  app.set_executable(
      install_beside_ui(install, std::string(TELVANA_SOURCE_DIR) + "/tests/webview/pages"));

  ASSERT_TRUE(app.start());
  ASSERT_TRUE(log_has(app, "[JS] log: visit 1\n")) << app.log() << app.stderr_text();
  EXPECT_TRUE(log_has(app, "[JS] log: version 1.0.0\n"));
  EXPECT_TRUE(std::filesystem::is_directory(app.output_folder() + "/WebView2"));
  // Local storage is written behind the page's back; wait until it is on disk.
  ASSERT_TRUE(wait_until([&] {
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(app.output_folder() + "/WebView2")) {
      if (entry.is_regular_file() &&
          entry.path().string().find("localstorage") != std::string::npos &&
          read_file(entry.path().string()).find("visits") != std::string::npos) {
        return true;
      }
    }
    return false;
  }));
  ASSERT_EQ(app.stop(SIGTERM), std::optional<int>(0));

  ASSERT_TRUE(app.start());
  EXPECT_TRUE(log_has(app, "[JS] log: visit 2\n")) << app.log();
  EXPECT_EQ(app.stop(SIGTERM), std::optional<int>(0));
}

}  // namespace
