// The log file: line format, rotation, the framework's handle, and many writers at once.
#include "core/log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class LogFile : public ::testing::Test {
 protected:
  void TearDown() override { log_close(); }
  TempDir dir;
  std::string path = dir / "telvana-print.log";
};

TEST_F(LogFile, HeaderAndLinePrefix) {
  ASSERT_TRUE(log_open(path));
  log_write_header();
  log_printf(u"Starting. ui=%s out=%s", std::u16string(u"/opt/ui"), std::string("/home/u/out"));
  const auto lines = lines_of(read_file(path));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "");
  EXPECT_TRUE(std::regex_match(
      lines[1],
      std::regex(R"(--- Telvana Print-to-Fax started \d{4}-\d\d-\d\d \d\d:\d\d:\d\d ---)")))
      << lines[1];
  EXPECT_TRUE(std::regex_match(
      lines[2], std::regex(R"(\[\d\d:\d\d:\d\d\] Starting\. ui=/opt/ui out=/home/u/out)")))
      << lines[2];
}

TEST_F(LogFile, NothingHappensWhileClosed) {
  log_printf(u"dropped %d", 1);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(LogFile, OpenFailureLeavesLoggingOff) {
  EXPECT_FALSE(log_open(dir / "missing-folder/telvana-print.log"));
  log_printf(u"dropped");
  EXPECT_FALSE(std::filesystem::exists(dir / "missing-folder"));
}

TEST_F(LogFile, RotatesOnlyFromThreeMebibytes) {
  struct Case {
    long existing_size;
    bool rotates;
  };
  for (const Case& c : {Case{LOG_ROTATE_SIZE - 1, false}, Case{LOG_ROTATE_SIZE, true}}) {
    SCOPED_TRACE(c.existing_size);
    std::filesystem::remove(path);
    std::filesystem::remove(path + ".1");
    ASSERT_TRUE(write_file(path + ".1", "older rotation\n"));
    ASSERT_TRUE(write_file(path, std::string(static_cast<std::size_t>(c.existing_size), 'x')));
    ASSERT_TRUE(log_open(path));
    log_printf(u"next line");
    log_close();
    const std::string current = read_file(path);
    if (c.rotates) {
      EXPECT_EQ(std::filesystem::file_size(path + ".1"), static_cast<uintmax_t>(c.existing_size));
      // The fresh file starts with the line itself: no start-up header after a rotation.
      EXPECT_TRUE(std::regex_match(current, std::regex(R"(\[\d\d:\d\d:\d\d\] next line\n)")))
          << current.size() << " bytes";
    } else {
      EXPECT_EQ(read_file(path + ".1"), "older rotation\n");
      EXPECT_EQ(current.size(), static_cast<std::size_t>(c.existing_size) + 21);
    }
  }
}

TEST_F(LogFile, OtherHandlesOfTheFileFollowTheRotation) {
  ASSERT_TRUE(write_file(path, std::string(LOG_ROTATE_SIZE, 'x')));
  ASSERT_TRUE(log_open(path));
  // The printer framework appends through a descriptor of its own.
  const int framework_fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(framework_fd, 0);
  log_printf(u"after rotation");
  const std::string framework_line = "framework line\n";
  ASSERT_EQ(write(framework_fd, framework_line.data(), framework_line.size()),
            static_cast<ssize_t>(framework_line.size()));
  close(framework_fd);
  log_close();
  const std::string current = read_file(path);
  EXPECT_NE(current.find("after rotation\n"), std::string::npos);
  EXPECT_NE(current.find("framework line\n"), std::string::npos) << current;
  EXPECT_EQ(read_file(path + ".1").find("framework line"), std::string::npos);
}

TEST_F(LogFile, ManyThreadsLoseAndTearNoLine) {
  ASSERT_TRUE(log_open(path));
  constexpr int threads = 8;
  constexpr int lines_per_thread = 3000;
  const std::string padding(150, 'p');
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < lines_per_thread; ++i) log_printf(u"w%d-%d %s end", t, i, padding);
    });
  }
  for (auto& writer : writers) writer.join();
  log_close();
  // About 4.8 MB in all: exactly one rotation happened during the writing.
  ASSERT_TRUE(std::filesystem::exists(path + ".1"));
  std::set<std::string> seen;
  const std::regex shape(R"(\[\d\d:\d\d:\d\d\] (w\d+-\d+) p{150} end)");
  for (const std::string& file : {path + ".1", path}) {
    for (const std::string& line : lines_of(read_file(file))) {
      std::smatch match;
      ASSERT_TRUE(std::regex_match(line, match, shape)) << "torn line: " << line;
      EXPECT_TRUE(seen.insert(match[1]).second) << "duplicate " << match[1];
    }
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(threads * lines_per_thread));
}

TEST(LogFormat, Conversions) {
  struct Case {
    std::u16string format;
    std::vector<LogArg> args;
    std::u16string expected;
  };
  const std::u16string long_body(1000, u'b');
  const std::vector<Case> cases = {
      {u"[JS] %s", {std::u16string_view(u"50% done %s %d")}, u"[JS] 50% done %s %d"},
      {u"%d|%lu|%zu|%u|%%", {-7LL, 4294967295ULL, 12ULL, 3ULL}, u"-7|4294967295|12|3|%"},
      {u"HTTP %d: %.400s",
       {413LL, std::u16string_view(long_body)},
       u"HTTP 413: " + std::u16string(400, u'b')},
      {u"(%.0f MB)", {157286401.0 / 1048576}, u"(150 MB)"},
      {u"%s and %s",
       {std::string_view("caf\xc3\xa9"), std::u16string_view(u"\U0001F4E0")},
       u"café and \U0001F4E0"},
      {u"%5s|%-5s|", {std::u16string_view(u"ab"), std::u16string_view(u"cd")}, u"   ab|cd   |"},
      {u"missing %s here", {}, u"missing  here"},
      {u"%08X%08X", {0xBEEFULL, 0x12ULL}, u"0000BEEF00000012"},
      // A value cannot end its line or start a forged one; the format's own text is kept.
      {u"[JS] %s\t|",
       {std::u16string_view(u"a\nb\r\n[12:00:00] forged\tx\x01\x7f\u0085z\\n")},
       u"[JS] a\\nb\\r\\n[12:00:00] forged\\tx\\x01\\x7F\\u0085z\\n\t|"},
      {u"%s", {std::string_view("job\r\nname\0.pdf", 14)}, u"job\\r\\nname\\x00.pdf"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(log_format(c.format, c.args.data(), c.args.size()), c.expected);
  }
}

TEST_F(LogFile, NeitherALinkIsFollowedNorAnUnreadFifoWaitedFor) {
  const std::string target = dir / "elsewhere.txt";
  ASSERT_TRUE(write_file(target, "kept"));
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
  EXPECT_FALSE(log_open(path));
  log_printf(u"dropped");
  EXPECT_EQ(read_file(target), "kept");
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_FALSE(log_open(path));  // returns at once: nobody reads the FIFO
}

TEST_F(LogFile, NoRotationWhileTurnedOff) {
  ASSERT_TRUE(write_file(path, std::string(LOG_ROTATE_SIZE, 'x')));
  ASSERT_TRUE(log_open(path));
  log_set_rotation(false);
  log_printf(u"second start");
  log_set_rotation(true);
  EXPECT_FALSE(std::filesystem::exists(path + ".1"));
  EXPECT_EQ(read_file(path).size(), static_cast<std::size_t>(LOG_ROTATE_SIZE) + 24u);
  log_printf(u"running instance");
  EXPECT_TRUE(std::filesystem::exists(path + ".1"));
}

TEST_F(LogFile, NonAsciiIsWrittenAsUtf8) {
  ASSERT_TRUE(log_open(path));
  log_printf(u"[startFileWatcher] New file detected: %s", std::u16string(u"Fax für Zoë.pdf"));
  log_close();
  EXPECT_NE(read_file(path).find("New file detected: Fax f\xc3\xbcr Zo\xc3\xab.pdf\n"),
            std::string::npos);
}

TEST_F(LogFile, LinesThatCannotBeWrittenAreCountedAndNoneJoinsAnother) {
  ASSERT_TRUE(log_open(path));
  log_printf(u"before");
  // A file-size limit stands for a full disk: the first line fits only in part, then none.
  signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit full = saved;
  full.rlim_cur = std::filesystem::file_size(path) + 15;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
  for (int i = 0; i < 5; ++i) log_printf(u"lost line %d while the disk is full", i);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  log_printf(u"after");
  const auto lines = lines_of(read_file(path));
  ASSERT_EQ(lines.size(), 4u) << read_file(path);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[\d\d:\d\d:\d\d\] before)")));
  // The cut line stands alone; the next line starts on a line of its own.
  EXPECT_EQ(lines[1].size(), 15u) << lines[1];
  EXPECT_TRUE(std::regex_match(
      lines[2], std::regex(R"(\[\d\d:\d\d:\d\d\] \[log\] 5 log lines could not be written)")))
      << lines[2];
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(\[\d\d:\d\d:\d\d\] after)")));
}

TEST_F(LogFile, ARemovedOrMovedLogIsReopenedAtItsPathWithTheOtherHandles) {
  for (const bool moved : {false, true}) {
    SCOPED_TRACE(moved ? "moved" : "removed");
    ASSERT_TRUE(log_open(path));
    const int framework_fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    log_printf(u"first");
    if (moved) {
      ASSERT_EQ(rename(path.c_str(), (path + ".old").c_str()), 0);
    } else {
      ASSERT_EQ(unlink(path.c_str()), 0);
    }
    log_printf(u"second");
    ASSERT_EQ(write(framework_fd, "framework\n", 10), 10);
    close(framework_fd);
    log_close();
    const std::string current = read_file(path);
    EXPECT_EQ(current.find("first"), std::string::npos) << current;
    EXPECT_NE(current.find("] second\nframework\n"), std::string::npos) << current;
    std::filesystem::remove(path);
  }
}

}  // namespace
