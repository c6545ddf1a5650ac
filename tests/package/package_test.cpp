// The Debian package holds a working product: built, unpacked into a private root, started and
// printed to from there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/printer/ipp_client.h"
#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"
#include "tests/support/x_window.h"

namespace {

namespace fs = std::filesystem;

// Builds the package once for all tests of this file and unpacks it into a private root.
class PackageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    workspace_ = new TempDir;
    const std::string out = *workspace_ / "out";
    int status = -1;
    build_log_ = run_command(
        "cpack -G DEB --config " + shell_quote(CPACK_CONFIG) + " -B " + shell_quote(out) + " 2>&1",
        &status);
    for (const auto& entry : fs::directory_iterator(out)) {
      if (entry.path().extension() == ".deb") deb_ = entry.path().string();
    }
    if (status != 0 || deb_.empty()) return;
    root_ = *workspace_ / "root";
    run_command("dpkg-deb -x " + shell_quote(deb_) + " " + shell_quote(root_), &status);
    if (status != 0) root_.clear();
  }
  static void TearDownTestSuite() {
    delete workspace_;
    workspace_ = nullptr;
  }
  void SetUp() override {
    ASSERT_FALSE(root_.empty()) << "the package was not built or unpacked:\n" << build_log_;
  }

  static inline TempDir* workspace_ = nullptr;
  static inline std::string build_log_, deb_, root_;
};

TEST_F(PackageTest, HoldsTheProgramItsPageAndDesktopFiles) {
  const fs::path root = root_;
  const fs::path link = root / "usr/bin/telvana-print";
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), "../lib/telvana-print/telvana-print");
  EXPECT_TRUE(fs::is_regular_file(root / "usr/lib/telvana-print/telvana-print"));
  EXPECT_TRUE(fs::is_regular_file(root / "usr/lib/telvana-print/ui/index.html"));
  EXPECT_FALSE(fs::exists(root / "usr/lib/telvana-print/ui/.copied"));
  EXPECT_TRUE(fs::is_regular_file(root / "usr/lib/telvana-print/portrait-color.png"));
  for (const char* size : {"16x16", "32x32", "48x48", "128x128", "256x256"}) {
    EXPECT_TRUE(
        fs::is_regular_file(root / "usr/share/icons/hicolor" / size / "apps/telvana-print.png"))
        << size;
  }
  const std::string menu_entry = read_file(root / "usr/share/applications/telvana-print.desktop");
  EXPECT_NE(menu_entry.find("\nExec=telvana-print\n"), std::string::npos) << menu_entry;
  EXPECT_NE(menu_entry.find("\nIcon=telvana-print\n"), std::string::npos);
  const std::string autostart = read_file(root / "etc/xdg/autostart/telvana-print.desktop");
  EXPECT_NE(autostart.find("\nExec=telvana-print --hidden\n"), std::string::npos) << autostart;

  int status = -1;
  const std::string fields =
      run_command("dpkg-deb -f " + shell_quote(deb_) + " Package Depends", &status);
  ASSERT_EQ(status, 0);
  EXPECT_NE(fields.find("Package: telvana-print"), std::string::npos);
  for (const char* library : {"libpappl1", "libwebkit2gtk-4.1-0", "libgtk-3-0", "libcurl4"}) {
    EXPECT_NE(fields.find(library), std::string::npos) << library << " missing in\n" << fields;
  }
}

TEST_F(PackageTest, UnpackedProgramStartsFindsItsPageAndPrints) {
  SKIP_WITHOUT_DISPLAY();
  AppProcess app;
  // Started through the bin/ link, as the desktop's autostart entry starts it.
  app.set_executable(root_ + "/usr/bin/telvana-print");
  ASSERT_TRUE(start_printer_app(app, {"--hidden"})) << app.stderr_text();

  const std::string ui = root_ + "/usr/lib/telvana-print/ui";
  EXPECT_NE(app.log().find("Starting. ui=" + ui + " out="), std::string::npos) << app.log();
  // The reference page loaded from that folder speaks through the bridge.
  ASSERT_TRUE(wait_until([&] {
    return app.log().find("[JS] log: Telvana page loaded") != std::string::npos;
  })) << app.log();
  ASSERT_TRUE(wait_until([&] {
    return app.log().find("[JS] log: Printed documents listed: 0") != std::string::npos;
  })) << app.log();
  EXPECT_FALSE(window_viewable(app.pid()));

  TempDir input;
  const std::string document = input / "invoice.pdf";
  ASSERT_TRUE(write_file(document, "%PDF-1.4\n% an invoice, sent as it is\n%%EOF\n"));
  const IpptoolRun run = print_file(document, "application/pdf", std::string("invoice"));
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string printed = app.output_folder() + "/invoice.pdf";
  ASSERT_TRUE(wait_until([&] { return fs::exists(printed); })) << run.output << "\n"
                                                               << app.log() << "\n"
                                                               << app.stderr_text();
  EXPECT_EQ(read_file(printed), read_file(document));
  // The page started the watcher and hears of the new file.
  EXPECT_TRUE(wait_until([&] {
    return app.log().find("[startFileWatcher] New file detected: invoice.pdf") != std::string::npos;
  })) << app.log();
  // The page brings the hidden window forward for the document just printed.
  EXPECT_TRUE(wait_until([&] { return window_viewable(app.pid()); }));
}

}  // namespace
