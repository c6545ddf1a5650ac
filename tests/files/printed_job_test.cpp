// A job printed to the running program reaches the page's _onNewPrintedFile once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/printer/ipp_client.h"
#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(PrintedJob, ReachesThePageOnce) {
  SKIP_WITHOUT_DISPLAY();
  TempDir install, inputs;
  AppProcess app;
  app.set_executable(
      install_beside_ui(install, std::string(TELVANA_SOURCE_DIR) + "/tests/files/pages"));
  std::filesystem::create_directories(app.output_folder());
  ASSERT_TRUE(write_file(app.output_folder() + "/waiting.pdf", "%PDF-1.4\n% waiting\n"));
  ASSERT_TRUE(app.start_and_wait_for_printer()) << app.log() << app.stderr_text();
  const std::string waiting_line = "[JS] log: printed " + app.output_folder() + "/waiting.pdf\n";
  ASSERT_TRUE(wait_until([&] { return app.log().find(waiting_line) != std::string::npos; }))
      << app.log();

  ASSERT_TRUE(write_file(inputs / "fax.pdf", "%PDF-1.4\n% one fax page\n%%EOF\n"));
  const IpptoolRun first = print_file(inputs / "fax.pdf", "application/pdf", "Quarterly fax");
  ASSERT_EQ(first.status, 0) << first.output;
  const std::string printed_line =
      "[JS] log: printed " + app.output_folder() + "/Quarterly fax.pdf\n";
  ASSERT_TRUE(wait_until([&] { return app.log().find(printed_line) != std::string::npos; }))
      << app.log();
  EXPECT_EQ(read_file(app.output_folder() + "/Quarterly fax.pdf"), read_file(inputs / "fax.pdf"));

  // Notices reach the page in order: once the next job's has arrived, any second notice of the
  // first job would have too.
  const IpptoolRun second = print_file(inputs / "fax.pdf", "application/pdf", "Next fax");
  ASSERT_EQ(second.status, 0) << second.output;
  const std::string next_line = "[JS] log: printed " + app.output_folder() + "/Next fax.pdf\n";
  ASSERT_TRUE(wait_until([&] { return app.log().find(next_line) != std::string::npos; }))
      << app.log();

  const std::string log = app.log();
  EXPECT_EQ(count_of(log, waiting_line), 1u) << log;
  EXPECT_EQ(count_of(log, printed_line), 1u) << log;
  EXPECT_EQ(count_of(log, "[startFileWatcher] Existing file queued: waiting.pdf\n"), 1u);
  EXPECT_EQ(count_of(log, "[startFileWatcher] New file detected: Quarterly fax.pdf\n"), 1u);
  EXPECT_EQ(count_of(log, "[JS] log: printed "), 3u) << log;
}

}  // namespace
