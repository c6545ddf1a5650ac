// Opening spooled documents: only regular files, never through a link, never blocking.
#include "printer/spool_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/temp_dir.h"

namespace {

TEST(SpoolDocument, OnlyARegularFileOpensAndNothingBlocks) {
  TempDir dir;
  write_file(dir / "document.pdf", "%PDF-1.4\n");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink((dir / "document.pdf").c_str(), (dir / "link").c_str()), 0);
  mkdir((dir / "folder").c_str(), 0700);
  struct Case {
    const char* name;
    int error;  // 0: opens
    const char* text;
  };
  for (const Case& c : {Case{"document.pdf", 0, ""}, Case{"fifo", EINVAL, "not a regular file"},
                        Case{"folder", EINVAL, "not a regular file"},
                        Case{"link", ELOOP, "the name is a symbolic link"},
                        Case{"missing", ENOENT, "No such file or directory"}}) {
    errno = 0;
    const int fd = open_spool_document((dir / c.name).c_str());
    if (c.error == 0) {
      ASSERT_GE(fd, 0) << c.name;
      char start[5] = {};
      EXPECT_EQ(read(fd, start, 4), 4);
      EXPECT_STREQ(start, "%PDF");
      close(fd);
      continue;
    }
    EXPECT_EQ(fd, -1) << c.name;
    EXPECT_EQ(errno, c.error) << c.name;
    EXPECT_EQ(spool_open_error_text(c.error), c.text) << c.name;
  }
}

}  // namespace
