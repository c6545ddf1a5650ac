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

// A copy of the executable (a hard link where the file system allows) with the test pages as
// its ui folder; the program finds its ui folder beside its own real path.
std::string install_with_test_pages(const TempDir& dir) {
  namespace fs = std::filesystem;
  const std::string exe = dir / "telvana-print";
  if (link(telvana_executable().c_str(), exe.c_str()) != 0) {
    fs::copy_file(telvana_executable(), exe);
  }
  fs::copy(std::string(TELVANA_SOURCE_DIR) + "/tests/webview/pages", dir / "ui",
           fs::copy_options::recursive);
  return exe;
}

bool log_has(AppProcess& app, const std::string& text) {
  return wait_until([&] { return app.log().find(text) != std::string::npos || !app.running(); }) &&
         app.log().find(text) != std::string::npos;
}

TEST(WebViewApp, PageStateLivesAcrossARestart) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "DISPLAY is not set";
  TempDir install;
  AppProcess app;
  app.set_executable(install_with_test_pages(install));

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
