// Driver data of the fax printer: what it can print and which callbacks do the work.
#include "printer/fax_driver.h"

#include <cstring>

#include "printer/copy_job.h"
#include "printer/printer_name.h"
#include "printer/raster_output.h"
#include "printer/test_page.h"

pappl_pr_driver_t fax_drivers[1] = {
    {FAX_DRIVER_NAME, "Telvana Print-to-Fax", nullptr, nullptr},
};

namespace {

constexpr const char* MEDIA[] = {
    "na_index-3x5_3x5in", "na_index-4x6_4x6in", "na_number-10_4.125x9.5in", "na_5x7_5x7in",
    "na_letter_8.5x11in", "na_legal_8.5x14in",  "iso_a6_105x148mm",         "iso_dl_110x220mm",
    "iso_a5_148x210mm",   "iso_a4_210x297mm",   "custom_max_8.5x14in",      "custom_min_3x5in",
};
constexpr const char* SOURCES[] = {"main", "alternate", "manual", "by-pass-tray"};
constexpr const char* TYPES[] = {
    "stationery",          "stationery-letterhead", "labels",       "photographic",
    "photographic-glossy", "photographic-matte",    "transparency", "envelope",
};
constexpr int MARGIN = 423;
constexpr const char* PWG_COMMON = "pwg_common-";

template <std::size_t N>
int fill_list(const char* const (&values)[N], const char** list) {
  for (std::size_t i = 0; i < N; ++i) list[i] = values[i];
  return static_cast<int>(N);
}

// Appends a resolution and makes it the default.
void add_resolution(pappl_pr_driver_data_t* data, int dpi) {
  data->x_resolution[data->num_resolution] = dpi;
  data->y_resolution[data->num_resolution] = dpi;
  data->num_resolution++;
  data->x_default = dpi;
  data->y_default = dpi;
}

// Completes the ready media from the size names and copies the default's match.
void complete_ready_media(pappl_pr_driver_data_t* data) {
  for (int i = 0; i < data->num_source; ++i) {
    pappl_media_col_t& ready = data->media_ready[i];
    if (pwg_media_t* pwg = pwgMediaForPWG(ready.size_name)) {
      ready.bottom_margin = ready.top_margin = data->bottom_top;
      ready.left_margin = ready.right_margin = data->left_right;
      ready.size_width = pwg->width;
      ready.size_length = pwg->length;
      ready.tracking = PAPPL_MEDIA_TRACKING_MARK;
      papplCopyString(ready.source, data->source[i], sizeof ready.source);
      papplCopyString(ready.type, data->type[0], sizeof ready.type);
    }
    if (std::strcmp(data->media_default.size_name, ready.size_name) == 0) {
      data->media_default = ready;
    }
  }
}

// Attributes that IPP Everywhere clients expect and the framework does not report, with the
// values that hold for this printer: one page per side, no Set-Job-Attributes, no preferred
// values in Validate-Job answers, no rendering intent of its own, no operator message, nothing
// that Set-Printer-Attributes may change (every client is refused administration). The
// framework keeps the last 100 events of a subscription however old, so the shortest event
// life the standard allows is the honest one. Page overrides are taken as the job's own
// options are: a document keeps its pages as they were printed.
void add_missing_printer_attributes(ipp_t** driver_attrs) {
  if (*driver_attrs == nullptr) *driver_attrs = ippNew();
  ipp_t* attrs = *driver_attrs;
  ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "ippget-event-life", 15);
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
               "job-settable-attributes-supported", nullptr, "none");
  ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "number-up-default", 1);
  ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "number-up-supported", 1);
  ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
               "print-rendering-intent-default", nullptr, "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
               "print-rendering-intent-supported", nullptr, "auto");
  static const char* const overrides[] = {"document-number", "pages"};
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "overrides-supported", 2,
                nullptr, overrides);
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-message-from-operator", nullptr, "");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
               "printer-settable-attributes-supported", nullptr, "none");
}

}  // namespace

bool configure_driver_data(pappl_system_t* system, const char* driver_name, const char* device_uri,
                           const char* device_id, pappl_pr_driver_data_t* data,
                           ipp_t** driver_attrs) {
  (void)device_id;
  if (!driver_name || !device_uri || !data || !driver_attrs) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Driver callback called without required information.");
    return false;
  }
  const auto has = [&](const char* token) { return std::strstr(driver_name, token) != nullptr; };
  constexpr auto gray_types = static_cast<pappl_raster_type_t>(PAPPL_PWG_RASTER_TYPE_BLACK_1 |
                                                               PAPPL_PWG_RASTER_TYPE_BLACK_8 |
                                                               PAPPL_PWG_RASTER_TYPE_SGRAY_8);
  if (has("-black_1")) {
    data->raster_types = gray_types;
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_BLACK_1;
  } else if (has("-sgray_8")) {
    data->raster_types = gray_types;
  } else if (has("-srgb_8")) {
    data->raster_types =
        static_cast<pappl_raster_type_t>(gray_types | PAPPL_PWG_RASTER_TYPE_SRGB_8);
  } else {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unsupported driver name '%s'.", driver_name);
    return false;
  }

  data->identify_cb = identify_printer;
  data->printfile_cb = copy_job_file;
  data->rstartjob_cb = raster_start_job;
  data->rstartpage_cb = raster_start_page;
  data->rwriteline_cb = raster_write_line;
  data->rendpage_cb = raster_end_page;
  data->rendjob_cb = raster_end_job;
  data->testpage_cb = select_test_page;
  data->format = "image/pwg-raster";
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_SOUND;
  data->identify_supported = static_cast<pappl_identify_actions_t>(PAPPL_IDENTIFY_ACTIONS_DISPLAY |
                                                                   PAPPL_IDENTIFY_ACTIONS_SOUND);
  data->orient_default = IPP_ORIENT_NONE;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->num_resolution = 0;

  if (has("-203dpi")) add_resolution(data, 203);
  if (has("-300dpi")) add_resolution(data, 300);
  if (has("-600dpi")) add_resolution(data, 600);
  if (data->num_resolution == 0) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "No resolution information in driver name '%s'.",
             driver_name);
    return false;
  }

  if (std::strncmp(driver_name, PWG_COMMON, std::strlen(PWG_COMMON)) == 0) {
    papplCopyString(data->make_and_model, PRINTER_NAME, sizeof data->make_and_model);
    data->has_supplies = true;
    data->left_right = MARGIN;
    data->bottom_top = MARGIN;
    data->kind =
        static_cast<pappl_kind_t>(PAPPL_KIND_DOCUMENT | PAPPL_KIND_PHOTO | PAPPL_KIND_POSTCARD);
    data->ppm = 5;
    data->ppm_color = 2;
    data->borderless = true;
    data->finishings =
        static_cast<pappl_finishings_t>(PAPPL_FINISHINGS_PUNCH | PAPPL_FINISHINGS_STAPLE);
    data->num_media = fill_list(MEDIA, data->media);
    data->num_source = fill_list(SOURCES, data->source);
    data->bin[0] = "center";
    data->num_bin = 1;
    if (data->raster_types & PAPPL_PWG_RASTER_TYPE_SRGB_8) {
      data->bin[1] = "rear";
      data->num_bin = 2;
    }
    papplCopyString(data->media_default.size_name, "na_letter_8.5x11in",
                    sizeof data->media_default.size_name);
    papplCopyString(data->media_ready[0].size_name, "na_letter_8.5x11in",
                    sizeof data->media_ready[0].size_name);
    papplCopyString(data->media_ready[1].size_name, "iso_a4_210x297mm",
                    sizeof data->media_ready[1].size_name);
    data->sides_supported = static_cast<pappl_sides_t>(
        PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE);
    data->sides_default = PAPPL_SIDES_TWO_SIDED_LONG_EDGE;

    data->color_supported =
        static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_AUTO_MONOCHROME |
                                        PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME);
    data->color_default = PAPPL_COLOR_MODE_AUTO;
    data->num_type = fill_list(TYPES, data->type);
    papplCopyString(data->media_default.size_name, papplLocGetDefaultMediaSizeName(),
                    sizeof data->media_default.size_name);
  }

  complete_ready_media(data);
  return true;
}

bool fax_driver_callback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                         const char* device_id, pappl_pr_driver_data_t* driver_data,
                         ipp_t** driver_attrs, void* data) {
  (void)data;
  const bool configured =
      configure_driver_data(system, driver_name, device_uri, device_id, driver_data, driver_attrs);
  if (configured) {
    driver_data->format = "application/pdf";
    driver_data->status_cb = clear_media_reasons;
    // Back sides of two-sided raster jobs are kept as sent, as the "DM1" the framework already
    // reports in urf-supported says.
    driver_data->duplex = PAPPL_DUPLEX_NORMAL;
    add_missing_printer_attributes(driver_attrs);
  }
  return configured;
}

bool clear_media_reasons(pappl_printer_t* printer) {
  papplPrinterSetReasons(
      printer, PAPPL_PREASON_NONE,
      static_cast<pappl_preason_t>(PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_LOW |
                                   PAPPL_PREASON_MEDIA_NEEDED));
  return true;
}
