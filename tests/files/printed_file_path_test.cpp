// Which paths name a printed file of the output folder, and which names are printed files.
#include "files/printed_file_path.h"

#include <gtest/gtest.h>

#include "core/config.h"

namespace {

struct PathCase {
  const char* name;
  const char* folder;
  std::u16string path;
  std::optional<std::string> expected;
};

const PathCase PATH_CASES[] = {
    {"Plain", "/home/u/out", u"/home/u/out/job.pdf", "job.pdf"},
    {"NonAscii", "/home/u/out", u"/home/u/out/Tr\u00e9s \u2603 it's.pdf",
     "Tr\xc3\xa9s \xe2\x98\x83 it's.pdf"},
    {"DoubleSlash", "/home/u/out", u"/home/u/out//job.pdf", "job.pdf"},
    {"FolderWithSlash", "/home/u/out/", u"/home/u/out//job.pdf", "job.pdf"},
    {"FolderWithSlashSingle", "/home/u/out/", u"/home/u/out/job.pdf", "job.pdf"},
    {"RootFolder", "/", u"//job.pdf", "job.pdf"},
    {"RelativeFolder", "out", u"out/job.pdf", "job.pdf"},
    {"FolderItself", "/home/u/out", u"/home/u/out", std::nullopt},
    {"FolderWithSlashOnly", "/home/u/out", u"/home/u/out/", std::nullopt},
    {"SiblingPrefix", "/home/u/out", u"/home/u/outer/job.pdf", std::nullopt},
    {"ShorterThanFolder", "/home/u/out", u"/home/u/ou", std::nullopt},
    {"Subfolder", "/home/u/out", u"/home/u/out/sub/job.pdf", std::nullopt},
    {"UpAndOut", "/home/u/out", u"/home/u/out/../job.pdf", std::nullopt},
    {"DotDot", "/home/u/out", u"/home/u/out/..", std::nullopt},
    {"Dot", "/home/u/out", u"/home/u/out/.", std::nullopt},
    {"TrailingSlash", "/home/u/out", u"/home/u/out/job.pdf/", std::nullopt},
    {"OtherFolder", "/home/u/out", u"/home/u/other/job.pdf", std::nullopt},
    {"BareName", "/home/u/out", u"job.pdf", std::nullopt},
    {"Empty", "/home/u/out", u"", std::nullopt},
    {"EmbeddedNul", "/home/u/out", std::u16string(u"/home/u/out/a\0b.pdf", 19), std::nullopt},
    {"LoneHighSurrogate", "/home/u/out", u"/home/u/out/\xd800x.pdf", std::nullopt},
    {"LoneLowSurrogate", "/home/u/out", u"/home/u/out/\xdc00x.pdf", std::nullopt},
    {"SurrogatePair", "/home/u/out", u"/home/u/out/\xd83d\xde00.pdf", "\xf0\x9f\x98\x80.pdf"},
    {"NoFolder", "", u"/job.pdf", std::nullopt},
};

void PrintTo(const PathCase& c, std::ostream* out) {
  *out << c.name;
}

class PrintedFileName : public ::testing::TestWithParam<PathCase> {};

TEST_P(PrintedFileName, NamesOnlyEntriesDirectlyInsideTheFolder) {
  AppConfig config;
  config.output_folder = folder_path(GetParam().folder);
  set_app_config(config);
  EXPECT_EQ(printed_file_name(GetParam().path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Files, PrintedFileName, ::testing::ValuesIn(PATH_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// The listing's pattern "*.pdf" takes the bare extension; a rename to it is not reported.
TEST(IsPdfName, EndingInTheExtensionInAnyCaseAndLongerForRenames) {
  struct Case {
    const char* name;
    bool pattern;
    bool renamed;
  };
  const Case cases[] = {
      {"job.pdf", true, true},       {"Job.PdF", true, true},
      {"a.PDF", true, true},         {"x.pdf", true, true},
      {".pdf", true, false},         {".PDF", true, false},
      {"pdf", false, false},         {"", false, false},
      {"job.pdf.bak", false, false}, {"job.pdfx", false, false},
      {"job_pdf", false, false},     {"job.txt", false, false},
      {"..pdf", true, true},         {"job.p df", false, false},
      {"job.PD F", false, false},    {"job.\xc3\xa9pdf", false, false},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(matches_pdf_pattern(test.name), test.pattern) << test.name;
    EXPECT_EQ(is_pdf_name(test.name), test.renamed) << test.name;
  }
}

}  // namespace
