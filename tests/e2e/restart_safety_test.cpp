// Restart safety: the program killed while a large document is still arriving, and again while
// one is being written to the output folder, leaves no partial ".pdf" there; the next start
// removes the hidden leftovers and reports every finished PDF to the page exactly once.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "printer/job_file.h"
#include "tests/e2e/streaming_print.h"
#include "tests/e2e/test_documents.h"
#include "tests/printer/ipp_client.h"
#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t MIB = 1024 * 1024;

// Bytes held in regular files under folder.
std::uintmax_t bytes_under(const std::string& folder) {
  std::uintmax_t total = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error)) total += it->file_size(error);
  }
  return total;
}

// Entries of folder that are the printer's hidden job files.
std::vector<std::string> job_temp_files(const std::string& folder) {
  std::vector<std::string> found;
  for (const std::string& name : folder_entries(folder)) {
    if (name.rfind(JOB_TEMP_PREFIX, 0) == 0) found.push_back(name);
  }
  return found;
}

// Blocks until a file whose name starts with prefix is created in folder (watch set up by
// start()); a hang guard of two minutes.
class CreationWatch {
 public:
  explicit CreationWatch(const std::string& folder)
      : fd_(inotify_init1(IN_CLOEXEC)), watch_(inotify_add_watch(fd_, folder.c_str(), IN_CREATE)) {}
  ~CreationWatch() { close(fd_); }
  bool ready() const { return fd_ >= 0 && watch_ >= 0; }
  bool wait_for(const std::string& prefix) {
    alignas(inotify_event) char buffer[4096];
    pollfd events{fd_, POLLIN, 0};
    while (poll(&events, 1, 120000) == 1) {
      const ssize_t got = read(fd_, buffer, sizeof buffer);
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && std::string(event->name).rfind(prefix, 0) == 0) return true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return false;
  }

 private:
  int fd_;
  int watch_;
};

class RestartSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_DISPLAY();
    app.set_executable(
        install_beside_ui(install, std::string(TELVANA_SOURCE_DIR) + "/tests/files/pages"));
  }
  // The printer spools documents in a folder of its run inside the private runtime folder.
  std::string spool_folder() const { return app.home() + "/runtime"; }
  // Ends the running program with SIGKILL and keeps its log apart from the next run's.
  void kill_program(const std::string& log_name) {
    kill(app.pid(), SIGKILL);
    app.wait_exit(std::chrono::seconds(30));
    fs::rename(app.log_path(), app.home() + "/" + log_name);
  }
  // Prints a small finished document named name and waits until it is in the output folder.
  void print_finished(const std::string& name) {
    const std::string document = text_pdf({"Finished document " + name});
    ASSERT_TRUE(write_file(inputs / (name + ".pdf"), document));
    const IpptoolRun run = print_file(inputs / (name + ".pdf"), "application/pdf", name);
    ASSERT_EQ(run.status, 0) << run.output;
    expected[name + ".pdf"] = document;
  }

  TempDir install, inputs;
  AppProcess app;
  std::map<std::string, std::string> expected;  // finished output name -> its bytes
};

TEST_F(RestartSafety, KilledMidPrintLeavesNoPartialPdfAndNextStartReportsEachOnce) {
  ASSERT_TRUE(start_printer_app(app)) << app.log() << app.stderr_text();
  print_finished("Finished one");
  print_finished("Finished two");

  // Killed while a large document is still arriving, slowly, from a client of the test's own.
  const std::size_t cut_size = 64 * MIB;
  const std::string cut = large_pdf("Cut while arriving", cut_size);
  StreamingPrint streaming;
  ASSERT_TRUE(streaming.begin("Cut while arriving", cut.size()));
  const std::uintmax_t spooled_before = bytes_under(spool_folder());
  for (std::size_t sent = 0; sent < 8 * MIB; sent += 64 * 1024) {
    ASSERT_TRUE(streaming.send(cut.data() + sent, 64 * 1024));
  }
  ASSERT_TRUE(wait_until([&] { return bytes_under(spool_folder()) >= spooled_before + MIB; }))
      << "the printer did not take in the document's first bytes";
  kill_program("run1.log");
  EXPECT_EQ(pdf_files(app.output_folder()),
            (std::vector<std::string>{"Finished one.pdf", "Finished two.pdf"}));

  // Killed again the moment a large job's output file is created in the output folder.
  ASSERT_TRUE(start_printer_app(app)) << app.log() << app.stderr_text();
  const std::string big = large_pdf("Killed while written", 96 * MIB);
  ASSERT_TRUE(write_file(inputs / "big.pdf", big));
  CreationWatch watch(app.output_folder());
  ASSERT_TRUE(watch.ready());
  std::thread printing([&] { print_file(inputs / "big.pdf", "application/pdf", "Big job"); });
  const bool created = watch.wait_for(JOB_TEMP_PREFIX);
  kill_program("run2.log");
  printing.join();
  ASSERT_TRUE(created) << read_file(app.home() + "/run2.log");
  // Whether the kill fell inside the copy or just after its rename, no partial PDF is visible:
  // every ".pdf" is whole.
  const std::vector<std::string> after_kill = pdf_files(app.output_folder());
  RecordProperty("killed_mid_copy", job_temp_files(app.output_folder()).empty() ? "no" : "yes");
  if (std::find(after_kill.begin(), after_kill.end(), "Big job.pdf") != after_kill.end()) {
    expected["Big job.pdf"] = big;
  }
  for (const std::string& name : after_kill) {
    ASSERT_TRUE(expected.count(name)) << "unexpected file " << name;
    EXPECT_TRUE(read_file(app.output_folder() + "/" + name) == expected[name]) << name;
  }

  // The next start: hidden leftovers go, each finished PDF reaches the page once, and a new
  // job still prints. The files already there are listed first, in the folder's order, and
  // the new job is printed after that: notices arrive in order, so once the new job's has
  // arrived, a repeated notice of an earlier file would have too.
  ASSERT_TRUE(start_printer_app(app)) << app.log() << app.stderr_text();
  const auto printed_line = [&](const std::string& name) {
    return "[JS] log: printed " + app.output_folder() + "/" + name + "\n";
  };
  ASSERT_TRUE(wait_until([&] {
    const std::string log = app.log();
    return std::all_of(expected.begin(), expected.end(), [&](const auto& item) {
      return log.find(printed_line(item.first)) != std::string::npos;
    });
  })) << app.log();
  print_finished("After restart");
  const std::string last_line = printed_line("After restart.pdf");
  ASSERT_TRUE(wait_until([&] { return app.log().find(last_line) != std::string::npos; }))
      << app.log();
  EXPECT_EQ(job_temp_files(app.output_folder()), std::vector<std::string>{});
  const std::string log = app.log();
  std::vector<std::string> names;
  for (const auto& [name, bytes] : expected) {
    names.push_back(name);
    EXPECT_EQ(count_of(log, printed_line(name)), 1u) << name << "\n" << log;
    EXPECT_TRUE(read_file(app.output_folder() + "/" + name) == bytes) << name;
  }
  EXPECT_EQ(pdf_files(app.output_folder()), names);
  EXPECT_EQ(count_of(log, "[JS] log: printed "), expected.size()) << log;
  // What the framework's own spool keeps of the killed runs (outside the output folder).
  RecordProperty("spool_bytes_left", std::to_string(bytes_under(spool_folder())));
}

}  // namespace
