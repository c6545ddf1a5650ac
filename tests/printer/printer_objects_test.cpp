// Callbacks that need a real printer object: status, test page and identify.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "printer/dns_sd_announcement.h"
#include "printer/fax_driver.h"
#include "printer/job_output.h"
#include "printer/test_page.h"
#include "tests/support/temp_dir.h"

namespace {

// A printer system that is created but never run, with the fax printer on a temp folder.
class PrinterObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    register_output_device();
    system_ = papplSystemCreate(PAPPL_SOPTIONS_MULTI_QUEUE, "Printer test", 0, nullptr,
                                (spool_ / "spool").c_str(), (spool_ / "log").c_str(),
                                PAPPL_LOGLEVEL_WARN, nullptr, false);
    ASSERT_NE(system_, nullptr);
    papplSystemSetPrinterDrivers(system_, 1, fax_drivers, nullptr, nullptr, fax_driver_callback,
                                 nullptr);
    const std::string uri = "file://" + out_.path() + "?ext=pdf";
    printer_ = papplPrinterCreate(system_, 0, "Fax", FAX_DRIVER_NAME,
                                  "MFG:Telvana;MDL:Print-to-Fax;", uri.c_str());
    ASSERT_NE(printer_, nullptr);
  }
  void TearDown() override {
    if (system_) papplSystemDelete(system_);
  }

  TempDir spool_, out_;
  pappl_system_t* system_ = nullptr;
  pappl_printer_t* printer_ = nullptr;
};

TEST_F(PrinterObjects, StatusUpdateClearsOnlyTheMediaReasons) {
  const auto media = static_cast<pappl_preason_t>(
      PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_LOW | PAPPL_PREASON_MEDIA_NEEDED);
  const auto others =
      static_cast<pappl_preason_t>(PAPPL_PREASON_TONER_LOW | PAPPL_PREASON_COVER_OPEN);
  papplPrinterSetReasons(printer_, static_cast<pappl_preason_t>(media | others),
                         PAPPL_PREASON_NONE);
  ASSERT_EQ(papplPrinterGetReasons(printer_) & media, media);
  EXPECT_TRUE(clear_media_reasons(printer_));
  EXPECT_EQ(papplPrinterGetReasons(printer_) & media, 0);
  EXPECT_EQ(papplPrinterGetReasons(printer_) & others, others);
  EXPECT_EQ(static_cast<int>(media), 0x0680);
}

TEST_F(PrinterObjects, TestPageIsFoundInTheCurrentFolderThenTestsuite) {
  TempDir work;
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(work.path().c_str()), 0);
  char buffer[1024] = "junk";

  struct Step {
    std::string create;  // file to add before the lookup, relative to the work folder
    std::string expected;
  } steps[] = {
      {"", ""},
      {"testsuite/portrait-color.png", "testsuite/portrait-color.png"},
      {"portrait-color.png", "portrait-color.png"},
  };
  mkdir("testsuite", 0700);
  for (const Step& step : steps) {
    if (!step.create.empty()) {
      ASSERT_TRUE(write_file(step.create, "png"));
    }
    const char* result = select_test_page(printer_, buffer, sizeof buffer);
    if (step.expected.empty()) {
      EXPECT_EQ(result, nullptr);
      EXPECT_STREQ(buffer, "");
    } else {
      ASSERT_NE(result, nullptr);
      EXPECT_EQ(result, buffer);
      EXPECT_EQ(std::string(buffer), step.expected);
    }
  }
  // A buffer too small for the name gives no test page rather than a cut name.
  char tiny[8] = "junk";
  EXPECT_EQ(select_test_page(printer_, tiny, sizeof tiny), nullptr);
  EXPECT_STREQ(tiny, "");
  ASSERT_EQ(chdir(previous), 0);
}

TEST_F(PrinterObjects, IdentifyRingsTheBellAndWritesTheMessage) {
  struct Case {
    const char* message;
    std::string expected;
  } cases[] = {{"Hello there", "\aHello there\n"}, {nullptr, "\a"}, {"", "\a\n"}};
  for (const Case& c : cases) {
    TempDir dir;
    fflush(stdout);
    const int saved = dup(1);
    FILE* capture = fopen((dir / "out").c_str(), "w");
    ASSERT_NE(capture, nullptr);
    dup2(fileno(capture), 1);
    identify_printer(printer_, PAPPL_IDENTIFY_ACTIONS_SOUND, c.message);
    dup2(saved, 1);
    close(saved);
    fclose(capture);
    EXPECT_EQ(read_file(dir / "out"), c.expected) << (c.message ? c.message : "(none)");
  }
}

TEST_F(PrinterObjects, AnnouncementCarriesOnlyTheRecordKeysThatHold) {
  const PrinterAnnouncement a =
      describe_printer(system_, printer_, "Fax here", "_print,_universal");
  EXPECT_EQ(a.name, "Fax here");
  EXPECT_EQ(a.ipp_subtypes, (std::vector<std::string>{"_print", "_universal"}));
  std::map<std::string, std::string> txt;
  for (const std::string& entry : a.txt) {
    const std::size_t equals = entry.find('=');
    ASSERT_NE(equals, std::string::npos) << entry;
    EXPECT_TRUE(txt.emplace(entry.substr(0, equals), entry.substr(equals + 1)).second) << entry;
  }
  // Absent: TLS is off, no web page is served, the printer is not certified.
  const struct {
    const char* key;
    std::optional<std::string> value;
  } cases[] = {
      {"rp", "ipp/print/Fax"},
      {"ty", "Send as Fax (Telvana)"},
      {"product", "(Send as Fax (Telvana))"},
      {"note", ""},
      {"kind", "document,photo,postcard"},
      {"Color", "T"},
      {"Duplex", "T"},
      {"PaperMax", "legal-A4"},
      {"Fax", "F"},
      {"Scan", "F"},
      {"txtvers", "1"},
      {"qtotal", "1"},
      {"priority", "0"},
      {"TLS", std::nullopt},
      {"adminurl", std::nullopt},
      {"mopria-certified", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto found = txt.find(c.key);
    if (c.value) {
      ASSERT_NE(found, txt.end()) << c.key;
      EXPECT_EQ(found->second, *c.value) << c.key;
    } else {
      EXPECT_EQ(found, txt.end()) << c.key;
    }
  }
  EXPECT_NE(txt["pdl"].find("application/pdf"), std::string::npos) << txt["pdl"];
  EXPECT_EQ(txt["pdl"].find("application/octet-stream"), std::string::npos) << txt["pdl"];
  EXPECT_TRUE(std::regex_match(txt["UUID"], std::regex("[0-9a-f]{8}-[0-9a-f]{4}-3[0-9a-f]{3}-"
                                                       "[4-7][0-9a-f]{3}-[0-9a-f]{12}")))
      << txt["UUID"];
}

}  // namespace
