// Job output names and the temporary-then-rename arrival of job files.
#include "printer/job_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "printer/job_output.h"
#include "tests/printer/ipp_client.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(JobFileName, KeepsUtf8AndReplacesOnlyUnsafeCharacters) {
  struct Case {
    std::string job_name;
    int copy;
    std::string expected;
  } cases[] = {
      {"Invoice 42", 1, "Invoice 42.pdf"},
      {"Rechnung für Müller – März", 1, "Rechnung für Müller – März.pdf"},
      {"見積書", 1, "見積書.pdf"},
      {"a/b/c", 1, "a_b_c.pdf"},
      {"tab\there\nnew\x7f", 1, "tab_here_new_.pdf"},
      {".hidden", 1, "_hidden.pdf"},
      {"..", 1, "Print job 7.pdf"},
      {"../../etc/passwd", 1, "_._.._etc_passwd.pdf"},
      {"", 1, "Print job 7.pdf"},
      {"report.pdf", 1, "report.pdf"},
      {"report.PDF", 2, "report (2).pdf"},
      {"Invoice 42", 3, "Invoice 42 (3).pdf"},
      {"bad \xff\xfe utf8", 1, "bad __ utf8.pdf"},
      {"overlong \xc0\xaf", 1, "overlong __.pdf"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(job_file_name(c.job_name, 7, "pdf", c.copy), c.expected) << c.job_name;
  }
}

TEST(JobFileName, LongNamesFitTheFileSystemLimitOnCharacterBoundaries) {
  std::string umlauts;
  for (int i = 0; i < 200; ++i) umlauts += "ü";
  for (const std::string& name : {std::string(400, 'x'), umlauts}) {
    const std::string file = job_file_name(name, 1, "pdf", 9999);
    EXPECT_LE(file.size(), 255u);
    EXPECT_EQ(file.substr(file.size() - 11), " (9999).pdf");
    // Every byte sequence left is whole: re-sanitizing changes nothing.
    const std::string stem = file.substr(0, file.size() - 11);
    EXPECT_EQ(job_file_name(stem, 1, "", 1), stem);
  }
}

TEST(JobFile, ArrivesByRenameUnderAFreeName) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir / "Invoice.pdf", "earlier job"));

  auto file = JobFile::create(dir.path(), 12);
  ASSERT_TRUE(file.has_value());
  const std::string temp = file->temp_path();
  EXPECT_EQ(temp.substr(dir.path().size() + 1, 1), ".") << "temporary name must be hidden";
  ASSERT_TRUE(file->write("%PDF-1.4 new", 12));
  EXPECT_EQ(read_file(temp), "%PDF-1.4 new");

  const auto path = file->commit("Invoice", "pdf");
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(*path, dir / "Invoice (2).pdf");
  EXPECT_EQ(read_file(dir / "Invoice.pdf"), "earlier job");
  EXPECT_EQ(read_file(*path), "%PDF-1.4 new");
  EXPECT_EQ(folder_entries(dir.path()),
            (std::vector<std::string>{"Invoice (2).pdf", "Invoice.pdf"}));
}

TEST(JobFile, DiscardedOrDroppedFilesLeaveNothing) {
  TempDir dir;
  {
    auto file = JobFile::create(dir.path(), 1);
    ASSERT_TRUE(file.has_value());
    ASSERT_TRUE(file->write("partial", 7));
    file->discard();
  }
  {
    auto file = JobFile::create(dir.path(), 2);
    ASSERT_TRUE(file.has_value());
    ASSERT_TRUE(file->write("partial", 7));
  }
  EXPECT_TRUE(folder_entries(dir.path()).empty());
}

TEST(JobFile, StaleTemporaryFilesAreRemovedButNothingElse) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir / (std::string(JOB_TEMP_PREFIX) + "1-1-0.part"), "killed"));
  ASSERT_TRUE(write_file(dir / "kept.pdf", "job"));
  ASSERT_TRUE(write_file(dir / ".other", "other"));
  remove_stale_job_files(dir.path());
  EXPECT_EQ(folder_entries(dir.path()), (std::vector<std::string>{".other", "kept.pdf"}));
}

TEST(JobFile, CreationFailsClearlyForAMissingFolder) {
  TempDir dir;
  errno = 0;
  EXPECT_FALSE(JobFile::create(dir / "missing", 1).has_value());
  EXPECT_EQ(errno, ENOENT);
}

TEST(OutputTarget, ReadsFolderAndExtensionFromTheDeviceUri) {
  struct Case {
    std::string uri;
    bool ok;
    std::string folder, extension;
  } cases[] = {
      {"file:///home/u/out?ext=pdf", true, "/home/u/out", "pdf"},
      {"file:///home/u/my%20out/?ext=pdf", true, "/home/u/my out", "pdf"},
      {"file:///home/u/out", true, "/home/u/out", "pdf"},
      {"file:///home/u/out?ext=ps&x=1", true, "/home/u/out", "ps"},
      {"file:///home/u/out?ext=a/b", false, "", ""},
      {"socket://host:9100", false, "", ""},
      {"", false, "", ""},
  };
  for (const Case& c : cases) {
    const auto target = output_target_for_uri(c.uri);
    ASSERT_EQ(target.has_value(), c.ok) << c.uri;
    if (!c.ok) continue;
    EXPECT_EQ(target->folder, c.folder) << c.uri;
    EXPECT_EQ(target->extension, c.extension) << c.uri;
  }
}

}  // namespace
