// Deleting printed files on real folders: only regular files directly inside the output folder.
#include "files/printed_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>

#include "core/config.h"
#include "core/log.h"
#include "core/text.h"
#include "tests/files/notice_capture.h"
#include "tests/support/temp_dir.h"

namespace {

// An output folder holding printed files and entries that are not, beside a file outside it.
//   out/job.pdf  out/keep.pdf  out/B.PDF  out/notes.txt  out/.pdf  out/sub/inner.pdf
//   out/held.pdf/ (a folder)  out/link.pdf -> outside/victim.pdf  out/pipe.pdf (a FIFO)
struct PrintedFolder {
  TempDir root;
  std::string folder = root / "out";
  std::string outside = root / "outside";
  std::string log = root / "test.log";

  PrintedFolder() {
    for (const std::string& dir : {folder, outside, folder + "/sub", folder + "/held.pdf"}) {
      mkdir(dir.c_str(), 0700);
    }
    for (const char* name : {"job.pdf", "keep.pdf", "B.PDF", "notes.txt", ".pdf", "sub/inner.pdf",
                             "held.pdf/page.pdf"}) {
      write_file(folder + "/" + name, "%PDF-1.4\n");
    }
    write_file(outside + "/victim.pdf", "%PDF-1.4\n");
    symlink((outside + "/victim.pdf").c_str(), (folder + "/link.pdf").c_str());
    mkfifo((folder + "/pipe.pdf").c_str(), 0600);
    AppConfig config;
    config.output_folder = folder_path(folder);
    set_app_config(config);
    log_open(log);
  }
  ~PrintedFolder() { log_close(); }

  std::set<std::string> entries() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  bool victim_intact() const { return read_file(outside + "/victim.pdf") == "%PDF-1.4\n"; }
};

const std::set<std::string> ALL_ENTRIES = {"job.pdf", "keep.pdf", "B.PDF",    "notes.txt", ".pdf",
                                           "sub",     "held.pdf", "link.pdf", "pipe.pdf"};

struct DeleteCase {
  const char* name;
  std::function<std::optional<std::u16string>(const PrintedFolder&)> path;
  std::set<std::string> removed;  // entries of the folder that must be gone
  bool refused;                   // a refusal is logged
};

std::optional<std::u16string> wide(const std::string& text) {
  return utf8_to_wide(text);
}

const DeleteCase DELETE_CASES[] = {
    {"Absent", [](const PrintedFolder&) { return std::nullopt; }, {}, false},
    {"Empty", [](const PrintedFolder&) { return std::u16string(); }, {}, false},
    {"PrintedFile",
     [](const PrintedFolder& f) { return wide(f.folder + "/job.pdf"); },
     {"job.pdf"},
     false},
    {"NotAPdf", [](const PrintedFolder& f) { return wide(f.folder + "/notes.txt"); }, {}, true},
    {"BareExtension",
     [](const PrintedFolder& f) { return wide(f.folder + "/.pdf"); },
     {".pdf"},
     false},
    {"PdfInAnyCase",
     [](const PrintedFolder& f) { return wide(f.folder + "/B.PDF"); },
     {"B.PDF"},
     false},
    {"MissingFile", [](const PrintedFolder& f) { return wide(f.folder + "/gone.pdf"); }, {}, false},
    {"OutsideTheFolder",
     [](const PrintedFolder& f) { return wide(f.outside + "/victim.pdf"); },
     {},
     true},
    {"UpAndOut",
     [](const PrintedFolder& f) { return wide(f.folder + "/../outside/victim.pdf"); },
     {},
     true},
    {"InASubfolder",
     [](const PrintedFolder& f) { return wide(f.folder + "/sub/inner.pdf"); },
     {},
     true},
    // The link goes, never what it leads to.
    {"LinkLeadingOut",
     [](const PrintedFolder& f) { return wide(f.folder + "/link.pdf"); },
     {"link.pdf"},
     false},
    {"AFifo", [](const PrintedFolder& f) { return wide(f.folder + "/pipe.pdf"); }, {}, true},
    {"AFolder", [](const PrintedFolder& f) { return wide(f.folder + "/held.pdf"); }, {}, true},
    {"TheFolderItself", [](const PrintedFolder& f) { return wide(f.folder); }, {}, true},
    {"TheFolderWithSlash", [](const PrintedFolder& f) { return wide(f.folder + "/"); }, {}, true},
    {"RelativeName", [](const PrintedFolder&) { return wide("job.pdf"); }, {}, true},
};

void PrintTo(const DeleteCase& c, std::ostream* out) {
  *out << c.name;
}

class DeletePrintedFile : public ::testing::TestWithParam<DeleteCase> {};

TEST_P(DeletePrintedFile, RemovesOnlyARegularFileOfTheFolder) {
  const DeleteCase& c = GetParam();
  PrintedFolder printed;
  delete_printed_file(c.path(printed));

  std::set<std::string> expected = ALL_ENTRIES;
  for (const std::string& name : c.removed) expected.erase(name);
  EXPECT_EQ(printed.entries(), expected);
  EXPECT_TRUE(printed.victim_intact());
  EXPECT_EQ(read_file(printed.folder + "/sub/inner.pdf"), "%PDF-1.4\n");
  EXPECT_EQ(read_file(printed.folder + "/held.pdf/page.pdf"), "%PDF-1.4\n");
  const std::vector<std::string> messages = log_messages(printed.log);
  if (c.refused) {
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("[deletePrintedFile] Refused \"", 0), 0u) << messages[0];
  } else {
    EXPECT_TRUE(messages.empty()) << messages[0];
  }
}

INSTANTIATE_TEST_SUITE_P(Files, DeletePrintedFile, ::testing::ValuesIn(DELETE_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ClearPrintedFiles, DeletesEveryPdfAndLogsWhatItCannot) {
  PrintedFolder printed;
  clear_printed_files();

  EXPECT_EQ(printed.entries(), (std::set<std::string>{"notes.txt", "sub", "held.pdf", "pipe.pdf"}));
  EXPECT_TRUE(printed.victim_intact());
  EXPECT_EQ(read_file(printed.folder + "/sub/inner.pdf"), "%PDF-1.4\n");
  EXPECT_EQ(read_file(printed.folder + "/held.pdf/page.pdf"), "%PDF-1.4\n");
  const std::vector<std::string> messages = log_messages(printed.log);
  EXPECT_EQ(std::multiset<std::string>(messages.begin(), messages.end()),
            (std::multiset<std::string>{
                "[clearPrintedFiles] Deleted job.pdf",
                "[clearPrintedFiles] Deleted keep.pdf",
                "[clearPrintedFiles] Deleted B.PDF",
                "[clearPrintedFiles] Deleted .pdf",
                "[clearPrintedFiles] Deleted link.pdf",
                "[clearPrintedFiles] Failed to delete held.pdf (err=21)",
                "[clearPrintedFiles] Failed to delete pipe.pdf (err=1)",
            }));
}

TEST(ClearPrintedFiles, FolderWithoutPdfsLogsNothing) {
  PrintedFolder printed;
  std::filesystem::remove_all(printed.folder);
  mkdir(printed.folder.c_str(), 0700);
  write_file(printed.folder + "/notes.txt", "text");
  clear_printed_files();
  EXPECT_EQ(printed.entries(), std::set<std::string>{"notes.txt"});
  std::filesystem::remove_all(printed.folder);
  clear_printed_files();
  EXPECT_TRUE(log_messages(printed.log).empty());
}

}  // namespace
