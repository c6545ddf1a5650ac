// When the page's view cannot be created, the user is told so and the program ends with code 1.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "bridge/web_view_host.h"
#include "platform/main_loop.h"
#include "tests/support/temp_dir.h"
#include "tests/webview/page_harness.h"
#include "window/host_window.h"

namespace {

// Runs creation to its end in this (child) process and leaves with the loop's exit code,
// after printing the boxes shown.
[[noreturn]] void create_and_exit(bool with_window, bool profile_is_a_file) {
  int code = 0;
  {
    TempDir root;
    prepare_page_process(root.path());
    const std::string profile = root.path() + "/out/WebView2";
    if (profile_is_a_file) write_file(profile, "not a folder");
    if (with_window) create_host_window(false);
    start_web_view_creation(profile);
    code = run_main_loop();
    for (const auto& box : shown_boxes()) {
      std::fprintf(stderr, "box[%s|%s|%s]\n", box.text.c_str(), box.caption.c_str(),
                   box.icon == MessageBoxIcon::error ? "error" : "warning");
    }
    std::fprintf(stderr, "state=%d\n", static_cast<int>(web_view_host_state()));
    std::fflush(stderr);
    // The folder goes before the exit, which runs no destructors.
    end_page_helpers();
  }
  _exit(code);
}

TEST(WebViewCreation, FailuresShowTheirBoxAndEndWithCode1) {
  SKIP_WITHOUT_DISPLAY();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(create_and_exit(true, true), testing::ExitedWithCode(1),
              "box\\[Could not create the web view environment.\nPlease install the WebKitGTK "
              "4.1 library \\(Debian package libwebkit2gtk-4.1-0\\).\\|Telvana "
              "Print-to-Fax\\|error\\]\nstate=1");
  EXPECT_EXIT(create_and_exit(false, false), testing::ExitedWithCode(1),
              "box\\[Web view initialization failed.\nPlease install the WebKitGTK 4.1 library "
              "\\(Debian package libwebkit2gtk-4.1-0\\).\\|Telvana Print-to-Fax\\|error\\]"
              "\nstate=2");
}

}  // namespace
