// Which paths name a printed file of the output folder, and which names are printed files.
#include "files/printed_file_path.h"

#include <gtest/gtest.h>

#include "core/config.h"

namespace {

struct PathCase {
  const char* name;
  const char16_t* folder;
  std::u16string path;
  std::optional<std::string> expected;
};

const PathCase PATH_CASES[] = {
    {"Plain", u"/home/u/out", u"/home/u/out/job.pdf", "job.pdf"},
    {"NonAscii", u"/home/u/out", u"/home/u/out/Tr\u00e9s \u2603 it's.pdf",
     "Tr\xc3\xa9s \xe2\x98\x83 it's.pdf"},
    {"DoubleSlash", u"/home/u/out", u"/home/u/out//job.pdf", "job.pdf"},
    {"FolderWithSlash", u"/home/u/out/", u"/home/u/out//job.pdf", "job.pdf"},
    {"FolderWithSlashSingle", u"/home/u/out/", u"/home/u/out/job.pdf", "job.pdf"},
    {"RootFolder", u"/", u"//job.pdf", "job.pdf"},
    {"RelativeFolder", u"out", u"out/job.pdf", "job.pdf"},
    {"FolderItself", u"/home/u/out", u"/home/u/out", std::nullopt},
    {"FolderWithSlashOnly", u"/home/u/out", u"/home/u/out/", std::nullopt},
    {"SiblingPrefix", u"/home/u/out", u"/home/u/outer/job.pdf", std::nullopt},
    {"ShorterThanFolder", u"/home/u/out", u"/home/u/ou", std::nullopt},
    {"Subfolder", u"/home/u/out", u"/home/u/out/sub/job.pdf", std::nullopt},
    {"UpAndOut", u"/home/u/out", u"/home/u/out/../job.pdf", std::nullopt},
    {"DotDot", u"/home/u/out", u"/home/u/out/..", std::nullopt},
    {"Dot", u"/home/u/out", u"/home/u/out/.", std::nullopt},
    {"TrailingSlash", u"/home/u/out", u"/home/u/out/job.pdf/", std::nullopt},
    {"OtherFolder", u"/home/u/out", u"/home/u/other/job.pdf", std::nullopt},
    {"BareName", u"/home/u/out", u"job.pdf", std::nullopt},
    {"Empty", u"/home/u/out", u"", std::nullopt},
    {"EmbeddedNul", u"/home/u/out", std::u16string(u"/home/u/out/a\0b.pdf", 19), std::nullopt},
    {"LoneHighSurrogate", u"/home/u/out", u"/home/u/out/\xd800x.pdf", std::nullopt},
    {"LoneLowSurrogate", u"/home/u/out", u"/home/u/out/\xdc00x.pdf", std::nullopt},
    {"SurrogatePair", u"/home/u/out", u"/home/u/out/\xd83d\xde00.pdf", "\xf0\x9f\x98\x80.pdf"},
    {"NoFolder", u"", u"/job.pdf", std::nullopt},
};

void PrintTo(const PathCase& c, std::ostream* out) {
  *out << c.name;
}

class PrintedFileName : public ::testing::TestWithParam<PathCase> {};

TEST_P(PrintedFileName, NamesOnlyEntriesDirectlyInsideTheFolder) {
  AppConfig config;
  config.output_folder = GetParam().folder;
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
