// The output-folder watcher against real files and real inotify. The watcher starts once per
// process, so every case runs in a child process of its own.
#include "files/file_watcher.h"

#include <fcntl.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

#include "bridge/delivery.h"
#include "core/config.h"
#include "core/log.h"
#include "core/text.h"
#include "tests/files/notice_capture.h"
#include "tests/support/app_process.h"
#include "tests/support/temp_dir.h"

namespace {

// Runs scenario as the whole life of a child process: exit code 0 only when no check failed;
// each failed check is written to standard error, which the parent shows.
void run_isolated(void (*scenario)()) {
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &failures);
    scenario();
  }
  for (int i = 0; i < failures.size(); ++i) {
    const ::testing::TestPartResult& failure = failures.GetTestPartResult(i);
    std::fprintf(stderr, "%s:%d: %s\n", failure.file_name() ? failure.file_name() : "?",
                 failure.line_number(), failure.message());
  }
  std::_Exit(failures.size() == 0 ? 0 : 1);
}

// A private output folder and log, with the notices of this process captured.
struct WatchedFolder {
  TempDir root;
  std::string folder;
  std::string log = root / "test.log";

  explicit WatchedFolder(const std::string& name = "out") : folder(root / name) {
    AppConfig config;
    config.output_folder = folder_path(folder);
    set_app_config(config);
    log_open(log);
    capture_notices();
  }
  std::string path(const std::string& name) const { return folder + "/" + name; }
  // Writes name in place (no rename), creating it or replacing its content.
  void write(const std::string& name) const { ASSERT_TRUE(write_file(path(name), "%PDF-1.4\n")); }
  void rename(const std::string& from, const std::string& to) const {
    ASSERT_EQ(::rename(path(from).c_str(), path(to).c_str()), 0) << from << " -> " << to;
  }
  // Writes a temporary file and renames it to name, as the printer hands over a finished job.
  void arrive(const std::string& name) const {
    write(name + ".part");
    rename(name + ".part", name);
  }
  std::vector<std::string> messages(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& message : log_messages(log)) {
      if (message.rfind(prefix, 0) == 0) found.push_back(message.substr(prefix.size()));
    }
    return found;
  }
};

const std::string QUEUED = "[startFileWatcher] Existing file queued: ";
const std::string DETECTED = "[startFileWatcher] New file detected: ";

// One change made in the folder after the watcher has started.
struct Change {
  enum Kind { Write, Rename, MakeFolder, Symlink } kind;
  std::string name;
  std::string to = {};
};

struct WatchCase {
  const char* name;
  std::vector<std::string> folders;   // made before the start (none: the folder is missing)
  std::vector<std::string> present;   // files written before the start
  std::vector<Change> changes;        // after the start
  std::set<std::string> listed;       // reported by the listing, in any order
  std::vector<std::string> detected;  // reported by the watcher, in this order
  const char* folder_name = "out";
};

const WatchCase WATCH_CASES[] = {
    {"ExistingFilesListedBeforeWatcherNotices",
     {"", "sub", "folder.pdf"},
     {"a.PDF", "b.pdf", "notes.txt", ".pdf", "sub/c.pdf"},
     {{Change::Rename, "b.pdf", "job.pdf"}},
     {"a.PDF", "b.pdf", ".pdf"},
     {"job.pdf"}},
    {"RenameToPdfReportedOnce",
     {""},
     {},
     {{Change::Write, "job.tmp"}, {Change::Rename, "job.tmp", "job.pdf"}},
     {},
     {"job.pdf"}},
    {"ExtensionInAnyCase",
     {""},
     {"Job.tmp"},
     {{Change::Rename, "Job.tmp", "Job.PdF"}, {Change::Rename, "Job.PdF", "second.PDF"}},
     {},
     {"Job.PdF", "second.PDF"}},
    {"BareExtensionNotReported", {""}, {"x.tmp"}, {{Change::Rename, "x.tmp", ".pdf"}}, {}, {}},
    {"OtherChangesNotReported",
     {"", "sub"},
     {"job.pdf", "sub/x.tmp"},
     {{Change::Rename, "job.pdf", "job.pdf.bak"},
      {Change::Write, "new.pdf"},
      {Change::Write, "new.pdf"},
      {Change::Rename, "sub/x.tmp", "sub/x.pdf"},
      {Change::MakeFolder, "dir.tmp"},
      {Change::Rename, "dir.tmp", "dir.pdf"},
      {Change::Symlink, "link.tmp", "/proc/self/cmdline"},
      {Change::Rename, "link.tmp", "link.pdf"}},
     {"job.pdf"},
     {}},
    {"MissingFolderIsCreated", {}, {}, {}, {}, {}},
    // Not UTF-8: the folder watched is the one of these bytes, the page's paths say U+FFFD.
    {"FolderNameNotUtf8",
     {""},
     {"a.pdf", "b.tmp"},
     {{Change::Rename, "b.tmp", "b.pdf"}},
     {"a.pdf"},
     {"b.pdf"},
     "out-\xff"},
};

// The case run by the current child process.
const WatchCase* current_case = nullptr;

void make_change(const WatchedFolder& watched, const Change& change) {
  switch (change.kind) {
    case Change::Write:
      watched.write(change.name);
      break;
    case Change::Rename:
      watched.rename(change.name, change.to);
      break;
    case Change::MakeFolder:
      ASSERT_EQ(mkdir(watched.path(change.name).c_str(), 0700), 0);
      break;
    case Change::Symlink:
      ASSERT_EQ(symlink(change.to.c_str(), watched.path(change.name).c_str()), 0);
      break;
  }
}

void run_watch_case() {
  const WatchCase& c = *current_case;
  WatchedFolder watched(c.folder_name);
  for (const std::string& folder : c.folders) mkdir(watched.path(folder).c_str(), 0700);
  for (const std::string& name : c.present) watched.write(name);

  start_file_watcher(deliver_new_printed_file);
  for (const Change& change : c.changes) make_change(watched, change);
  // The watcher's notices arrive in the order of its events: once this last rename has been
  // reported, every earlier change has been looked at.
  watched.arrive("zz-end.pdf");
  std::vector<std::string> detected = c.detected;
  detected.push_back("zz-end.pdf");
  const std::size_t total = c.listed.size() + detected.size();
  ASSERT_TRUE(pump_until([&] {
    return !captured_notices().empty() &&
           captured_notices().back() == expected_notice(watched.path("zz-end.pdf"));
  }));
  ASSERT_TRUE(pump_all_posted());

  const std::vector<std::u16string>& notices = captured_notices();
  ASSERT_EQ(notices.size(), total);
  std::set<std::u16string> listed_paths;
  for (const std::string& name : c.listed) listed_paths.insert(expected_notice(watched.path(name)));
  EXPECT_EQ(std::set<std::u16string>(notices.begin(), notices.begin() + c.listed.size()),
            listed_paths);
  for (std::size_t i = 0; i < detected.size(); ++i) {
    EXPECT_EQ(notices[c.listed.size() + i], expected_notice(watched.path(detected[i])));
  }

  const std::vector<std::string> queued = watched.messages(QUEUED);
  EXPECT_EQ(std::multiset<std::string>(queued.begin(), queued.end()),
            std::multiset<std::string>(c.listed.begin(), c.listed.end()));
  EXPECT_EQ(watched.messages(DETECTED), detected);
  // Every listing line is written before any line of the watcher.
  const std::vector<std::string> all = log_messages(watched.log);
  const auto first_detected = std::find_if(
      all.begin(), all.end(), [](const std::string& m) { return m.rfind(DETECTED, 0) == 0; });
  EXPECT_TRUE(std::none_of(first_detected, all.end(),
                           [](const std::string& m) { return m.rfind(QUEUED, 0) == 0; }));
}

void PrintTo(const WatchCase& c, std::ostream* out) {
  *out << c.name;
}

class WatcherCase : public ::testing::TestWithParam<WatchCase> {};

TEST_P(WatcherCase, ReportsExactlyTheFinishedPdfs) {
  current_case = &GetParam();
  EXPECT_EXIT(run_isolated(run_watch_case), ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Files, WatcherCase, ::testing::ValuesIn(WATCH_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// A second start lists nothing and starts no thread, also after the folder was removed and moved.
void run_second_start() {
  WatchedFolder watched;
  mkdir(watched.folder.c_str(), 0700);
  watched.write("a.pdf");
  const int threads_before = thread_count();

  start_file_watcher(deliver_new_printed_file);
  ASSERT_TRUE(pump_all_posted());
  EXPECT_EQ(thread_count(), threads_before + 1);
  EXPECT_EQ(captured_notices().size(), 1u);

  watched.write("b.pdf");
  start_file_watcher(deliver_new_printed_file);
  ASSERT_TRUE(pump_all_posted());
  EXPECT_EQ(captured_notices().size(), 1u);
  EXPECT_EQ(thread_count(), threads_before + 1);
  // One rename, one notice: a second watching thread would report it twice.
  watched.arrive("c.pdf");
  ASSERT_TRUE(pump_until([] { return captured_notices().size() >= 2; }));
  watched.arrive("zz-end.pdf");
  ASSERT_TRUE(pump_until([] { return captured_notices().size() >= 3; }));
  ASSERT_TRUE(pump_all_posted());
  EXPECT_EQ(captured_notices(),
            (std::vector<std::u16string>{expected_notice(watched.path("a.pdf")),
                                         expected_notice(watched.path("c.pdf")),
                                         expected_notice(watched.path("zz-end.pdf"))}));

  // A removed and a moved folder each come back, private, and stay watched by the one thread.
  for (const char* name : {"a.pdf", "b.pdf", "c.pdf", "zz-end.pdf"})
    unlink(watched.path(name).c_str());
  ASSERT_EQ(rmdir(watched.folder.c_str()), 0);
  struct stat info {};
  ASSERT_TRUE(wait_until([&] { return stat(watched.folder.c_str(), &info) == 0; }));
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  // Renamed in before or after the watch is set again: reported once either way.
  watched.arrive("d.pdf");
  ASSERT_TRUE(pump_until([] { return captured_notices().size() >= 4; }));
  ASSERT_EQ(rename(watched.folder.c_str(), (watched.root / "moved").c_str()), 0);
  ASSERT_TRUE(wait_until([&] { return stat(watched.folder.c_str(), &info) == 0; }));
  watched.arrive("e.pdf");
  ASSERT_TRUE(pump_until([] { return captured_notices().size() >= 5; }));
  start_file_watcher(deliver_new_printed_file);
  ASSERT_TRUE(pump_all_posted());
  EXPECT_EQ(thread_count(), threads_before + 1);
  EXPECT_EQ(std::vector<std::u16string>(captured_notices().begin() + 3, captured_notices().end()),
            (std::vector<std::u16string>{expected_notice(watched.path("d.pdf")),
                                         expected_notice(watched.path("e.pdf"))}));
  EXPECT_EQ(watched.messages(QUEUED), std::vector<std::string>{"a.pdf"});
  const std::string log = read_file(watched.log);
  EXPECT_NE(log.find("was removed; watching it anew"), std::string::npos) << log;
  EXPECT_NE(log.find("was moved away; watching it anew"), std::string::npos) << log;
}

TEST(FileWatcher, SecondStartListsNothingAndStartsNoThread) {
  EXPECT_EXIT(run_isolated(run_second_start), ::testing::ExitedWithCode(0), "");
}

// The kernel's change queue for one watch holds this many events; more are dropped.
std::size_t kernel_event_queue_size() {
  const std::string text = read_file("/proc/sys/fs/inotify/max_queued_events");
  return text.empty() ? 16384 : std::stoul(text);
}

// More renames than the kernel's queue holds, made while the watcher cannot read: its log is a
// pipe that nobody drains, so its first log line blocks it. Every file is still reported once.
void run_burst_beyond_event_queue() {
  WatchedFolder watched;
  const std::string staging = watched.root / "staging";
  const std::string pipe_path = watched.root / "log.pipe";
  mkdir(watched.folder.c_str(), 0700);
  mkdir(staging.c_str(), 0700);
  const std::size_t burst = kernel_event_queue_size() + 1000;
  for (std::size_t i = 0; i < burst; ++i) {
    ASSERT_TRUE(write_file(staging + "/" + std::to_string(i) + ".tmp", "%PDF"));
  }

  ASSERT_EQ(mkfifo(pipe_path.c_str(), 0600), 0);
  const int reader = open(pipe_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(log_open(pipe_path));
  start_file_watcher(deliver_new_printed_file);
  // Fill the pipe so the watcher's first log line waits until the test drains it.
  const int filler = open(pipe_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(filler, 0);
  const std::string block(4096, '#');
  while (write(filler, block.data(), block.size()) > 0) {
  }
  ASSERT_EQ(errno, EAGAIN);
  close(filler);

  for (std::size_t i = 0; i < burst; ++i) {
    const std::string name = "job-" + std::to_string(i) + ".pdf";
    ASSERT_EQ(
        ::rename((staging + "/" + std::to_string(i) + ".tmp").c_str(), watched.path(name).c_str()),
        0);
  }

  std::string log_text;
  std::thread drain([&] {
    fcntl(reader, F_SETFL, 0);
    char chunk[65536];
    ssize_t got;
    while ((got = read(reader, chunk, sizeof chunk)) > 0) log_text.append(chunk, got);
  });
  const auto guard = std::chrono::seconds(120);
  const bool all_reported =
      pump_until([&] { return captured_notices().size() >= burst; }, guard) &&
      write_file(staging + "/zz-end.tmp", "%PDF") &&
      ::rename((staging + "/zz-end.tmp").c_str(), watched.path("zz-end.pdf").c_str()) == 0 &&
      pump_until(
          [&] { return captured_notices().back() == expected_notice(watched.path("zz-end.pdf")); },
          guard);
  // Closing the log ends the drain.
  log_close();
  drain.join();
  close(reader);
  ASSERT_TRUE(all_reported) << captured_notices().size() << " of " << burst << " reported";

  std::map<std::u16string, int> reports;
  for (const std::u16string& notice : captured_notices()) ++reports[notice];
  EXPECT_EQ(captured_notices().size(), burst + 1);
  for (std::size_t i = 0; i < burst; ++i) {
    const std::string name = "job-" + std::to_string(i) + ".pdf";
    EXPECT_EQ(reports[expected_notice(watched.path(name))], 1) << name;
  }
  // The burst did overflow the queue: the folder was listed again.
  EXPECT_NE(log_text.find("[startFileWatcher] Too many changes at once; listing " + watched.folder +
                          " again"),
            std::string::npos);
}

TEST(FileWatcher, BurstBeyondTheKernelQueueReportsEveryFileOnce) {
  EXPECT_EXIT(run_isolated(run_burst_beyond_event_queue), ::testing::ExitedWithCode(0), "");
}

}  // namespace
