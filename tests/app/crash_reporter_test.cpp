// The built-in crash reporter writes a report from a process that really crashes.
#include "app/crash_reporter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

// The wait status of a forked copy of the test that runs crash, which must end it by a signal.
std::optional<int> status_of_crash(const std::function<void()>& crash) {
  ChildProcess child;
  if (!child.start_function([&] {
        crash();
        return 0;  // not reached: the signal ends the process
      })) {
    return std::nullopt;
  }
  return child.wait_status(std::chrono::seconds(60));
}

#ifndef TELVANA_WITH_SENTRY
TEST(CrashReporter, FatalSignalLeavesAReportAndStillKillsTheProcess) {
  for (int fatal : {SIGSEGV, SIGABRT}) {
    SCOPED_TRACE(fatal);
    TempDir out;
    const std::optional<int> status = status_of_crash([&] {
      crash_reporter_init("telvana-printer@2.5.17", out.path());
      raise(fatal);
    });
    ASSERT_TRUE(status && WIFSIGNALED(*status));
    EXPECT_EQ(WTERMSIG(*status), fatal);

    std::vector<std::filesystem::path> reports;
    for (const auto& entry : std::filesystem::directory_iterator(out / "crash-reports")) {
      reports.push_back(entry.path());
    }
    ASSERT_EQ(reports.size(), 1u);
    const std::string report = read_file(reports[0]);
    EXPECT_NE(report.find("release: telvana-printer@2.5.17\n"), std::string::npos) << report;
    EXPECT_NE(report.find("environment: production\n"), std::string::npos);
    EXPECT_NE(report.find("signal: " + std::to_string(fatal) + " ("), std::string::npos);
    EXPECT_NE(report.find("backtrace:\n"), std::string::npos);
    // At least one frame was written after the heading.
    EXPECT_GT(report.size(), report.find("backtrace:\n") + 12);
  }
}
#endif

TEST(CrashReporter, CloseRestoresTheDefaultAction) {
  TempDir out;
  const std::optional<int> status = status_of_crash([&] {
    crash_reporter_init("telvana-printer@1.0.0", out.path());
    crash_reporter_close();
    raise(SIGSEGV);
  });
  ASSERT_TRUE(status && WIFSIGNALED(*status));
  EXPECT_EQ(WTERMSIG(*status), SIGSEGV);
  EXPECT_TRUE(std::filesystem::is_empty(out / "crash-reports"));
}

}  // namespace
