// Driver data of the fax printer: capabilities, media and their locale default.
#include "printer/fax_driver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <thread>

#include "printer/copy_job.h"
#include "printer/raster_output.h"
#include "printer/test_page.h"

namespace {

struct DriverResult {
  bool ok = false;
  pappl_pr_driver_data_t data{};
  std::map<std::string, std::string> attributes;  // name -> values as ipptool shows them
};

// Runs the driver callback on a fresh thread with the locale variables given, since the
// printing library keeps its default language per thread.
DriverResult run_driver(const char* locale, const char* driver_name = FAX_DRIVER_NAME,
                        bool full = true) {
  DriverResult result;
  std::thread([&] {
    setenv("LC_ALL", locale, 1);
    setenv("LANG", locale, 1);
    ipp_t* attrs = nullptr;
    result.ok = full ? fax_driver_callback(nullptr, driver_name, "file:///tmp?ext=pdf", nullptr,
                                           &result.data, &attrs, nullptr)
                     : configure_driver_data(nullptr, driver_name, "file:///tmp?ext=pdf", nullptr,
                                             &result.data, &attrs);
    for (ipp_attribute_t* a = ippFirstAttribute(attrs); a; a = ippNextAttribute(attrs)) {
      char value[256];
      ippAttributeString(a, value, sizeof value);
      result.attributes[ippGetName(a)] = value;
    }
    ippDelete(attrs);
  }).join();
  return result;
}

TEST(FaxDriver, FillsEveryCapability) {
  const DriverResult r = run_driver("en_US.UTF-8");
  ASSERT_TRUE(r.ok);
  const pappl_pr_driver_data_t& d = r.data;
  EXPECT_STREQ(d.format, "application/pdf");
  EXPECT_EQ(d.status_cb, clear_media_reasons);
  EXPECT_EQ(d.duplex, PAPPL_DUPLEX_NORMAL);
  EXPECT_EQ(d.printfile_cb, copy_job_file);
  EXPECT_EQ(d.identify_cb, identify_printer);
  EXPECT_EQ(d.testpage_cb, select_test_page);
  EXPECT_EQ(d.rstartjob_cb, raster_start_job);
  EXPECT_EQ(d.rstartpage_cb, raster_start_page);
  EXPECT_EQ(d.rwriteline_cb, raster_write_line);
  EXPECT_EQ(d.rendpage_cb, raster_end_page);
  EXPECT_EQ(d.rendjob_cb, raster_end_job);
  EXPECT_STREQ(d.make_and_model, "Send as Fax (Telvana)");
  EXPECT_EQ(d.ppm, 5);
  EXPECT_EQ(d.ppm_color, 2);
  EXPECT_EQ(static_cast<int>(d.kind), 0x62);
  EXPECT_TRUE(d.has_supplies);
  EXPECT_EQ(d.orient_default, IPP_ORIENT_NONE);
  EXPECT_EQ(static_cast<int>(d.color_supported), 0x1B);
  EXPECT_EQ(d.color_default, PAPPL_COLOR_MODE_AUTO);
  EXPECT_EQ(d.quality_default, IPP_QUALITY_NORMAL);
  EXPECT_EQ(static_cast<int>(d.raster_types), 0xA0C);
  EXPECT_EQ(static_cast<int>(d.force_raster_type), 0);
  EXPECT_EQ(static_cast<int>(d.sides_supported), 7);
  EXPECT_EQ(d.sides_default, PAPPL_SIDES_TWO_SIDED_LONG_EDGE);
  EXPECT_EQ(static_cast<int>(d.finishings), 3);
  ASSERT_EQ(d.num_resolution, 2);
  EXPECT_EQ(d.x_resolution[0], 300);
  EXPECT_EQ(d.y_resolution[0], 300);
  EXPECT_EQ(d.x_resolution[1], 600);
  EXPECT_EQ(d.y_resolution[1], 600);
  EXPECT_EQ(d.x_default, 600);
  EXPECT_EQ(d.y_default, 600);
  EXPECT_TRUE(d.borderless);
  EXPECT_EQ(d.left_right, 423);
  EXPECT_EQ(d.bottom_top, 423);
  EXPECT_EQ(static_cast<int>(d.identify_default), 4);
  EXPECT_EQ(static_cast<int>(d.identify_supported), 5);

  const char* media[] = {"na_index-3x5_3x5in", "na_index-4x6_4x6in",  "na_number-10_4.125x9.5in",
                         "na_5x7_5x7in",       "na_letter_8.5x11in",  "na_legal_8.5x14in",
                         "iso_a6_105x148mm",   "iso_dl_110x220mm",    "iso_a5_148x210mm",
                         "iso_a4_210x297mm",   "custom_max_8.5x14in", "custom_min_3x5in"};
  ASSERT_EQ(d.num_media, 12);
  for (int i = 0; i < 12; ++i) EXPECT_STREQ(d.media[i], media[i]) << i;
  const char* sources[] = {"main", "alternate", "manual", "by-pass-tray"};
  ASSERT_EQ(d.num_source, 4);
  for (int i = 0; i < 4; ++i) EXPECT_STREQ(d.source[i], sources[i]) << i;
  const char* types[] = {
      "stationery",          "stationery-letterhead", "labels",       "photographic",
      "photographic-glossy", "photographic-matte",    "transparency", "envelope"};
  ASSERT_EQ(d.num_type, 8);
  for (int i = 0; i < 8; ++i) EXPECT_STREQ(d.type[i], types[i]) << i;
  ASSERT_EQ(d.num_bin, 2);
  EXPECT_STREQ(d.bin[0], "center");
  EXPECT_STREQ(d.bin[1], "rear");

  struct Ready {
    const char *size, *source;
    int width, length;
  } ready[] = {{"na_letter_8.5x11in", "main", 21590, 27940},
               {"iso_a4_210x297mm", "alternate", 21000, 29700}};
  for (int i = 0; i < 2; ++i) {
    const pappl_media_col_t& m = d.media_ready[i];
    EXPECT_STREQ(m.size_name, ready[i].size);
    EXPECT_STREQ(m.source, ready[i].source);
    EXPECT_STREQ(m.type, "stationery");
    EXPECT_EQ(m.size_width, ready[i].width);
    EXPECT_EQ(m.size_length, ready[i].length);
    EXPECT_EQ(m.tracking, PAPPL_MEDIA_TRACKING_MARK);
    for (int margin : {m.left_margin, m.right_margin, m.top_margin, m.bottom_margin}) {
      EXPECT_EQ(margin, 423);
    }
  }
  EXPECT_STREQ(d.media_ready[2].size_name, "");
  EXPECT_STREQ(d.media_ready[3].size_name, "");

  // The attributes the framework leaves out, with what holds for this printer.
  const std::map<std::string, std::string> added = {
      {"ippget-event-life", "15"},
      {"job-settable-attributes-supported", "none"},
      {"number-up-default", "1"},
      {"number-up-supported", "1"},
      {"overrides-supported", "document-number,pages"},
      {"preferred-attributes-supported", "false"},
      {"print-rendering-intent-default", "auto"},
      {"print-rendering-intent-supported", "auto"},
      {"printer-message-from-operator", ""},
      {"printer-settable-attributes-supported", "none"},
  };
  EXPECT_EQ(r.attributes, added);
}

TEST(FaxDriver, DefaultMediaFollowsTheLocale) {
  struct Case {
    const char* locale;
    const char* size;
    const char* source;
    int width;
  } cases[] = {
      {"en_US.UTF-8", "na_letter_8.5x11in", "main", 21590},
      {"de_DE.UTF-8", "iso_a4_210x297mm", "alternate", 21000},
      {"fr_CA.UTF-8", "na_letter_8.5x11in", "main", 21590},
      {"en_GB.UTF-8", "iso_a4_210x297mm", "alternate", 21000},
  };
  for (const Case& c : cases) {
    const DriverResult r = run_driver(c.locale);
    ASSERT_TRUE(r.ok) << c.locale;
    EXPECT_STREQ(r.data.media_default.size_name, c.size) << c.locale;
    EXPECT_STREQ(r.data.media_default.source, c.source) << c.locale;
    EXPECT_EQ(r.data.media_default.size_width, c.width) << c.locale;
    EXPECT_EQ(r.data.media_default.left_margin, 423) << c.locale;
  }
}

TEST(FaxDriver, DriverNameTokensDecideColourAndResolution) {
  struct Case {
    const char* name;
    bool ok;
    int raster_types, force, resolutions, default_dpi, bins;
  } cases[] = {
      {"pwg_common-300dpi-600dpi-srgb_8", true, 0xA0C, 0, 2, 600, 2},
      {"pwg_common-203dpi-black_1", true, 0x20C, 0x4, 1, 203, 1},
      {"pwg_common-300dpi-sgray_8", true, 0x20C, 0, 1, 300, 1},
      {"pwg_common-300dpi", false, 0, 0, 0, 0, 0},
      {"pwg_common-srgb_8", false, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const DriverResult r = run_driver("en_US.UTF-8", c.name, false);
    EXPECT_EQ(r.ok, c.ok) << c.name;
    EXPECT_TRUE(r.attributes.empty()) << c.name;
    if (!c.ok) continue;
    EXPECT_STREQ(r.data.format, "image/pwg-raster") << c.name;
    EXPECT_EQ(static_cast<int>(r.data.raster_types), c.raster_types) << c.name;
    EXPECT_EQ(static_cast<int>(r.data.force_raster_type), c.force) << c.name;
    EXPECT_EQ(r.data.num_resolution, c.resolutions) << c.name;
    EXPECT_EQ(r.data.x_default, c.default_dpi) << c.name;
    EXPECT_EQ(r.data.num_bin, c.bins) << c.name;
  }
}

TEST(FaxDriver, MissingInformationFails) {
  pappl_pr_driver_data_t data{};
  ipp_t* attrs = nullptr;
  EXPECT_FALSE(configure_driver_data(nullptr, nullptr, "file:///tmp", nullptr, &data, &attrs));
  EXPECT_FALSE(configure_driver_data(nullptr, FAX_DRIVER_NAME, nullptr, nullptr, &data, &attrs));
  EXPECT_FALSE(
      configure_driver_data(nullptr, FAX_DRIVER_NAME, "file:///tmp", nullptr, nullptr, &attrs));
  EXPECT_FALSE(
      configure_driver_data(nullptr, FAX_DRIVER_NAME, "file:///tmp", nullptr, &data, nullptr));
  EXPECT_FALSE(
      fax_driver_callback(nullptr, nullptr, "file:///tmp", nullptr, &data, &attrs, nullptr));
  EXPECT_EQ(data.format, nullptr);
  EXPECT_EQ(data.status_cb, nullptr);
}

}  // namespace
