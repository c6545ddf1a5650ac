// Raster pages to PDF: the RasterJob record lives on the job from start to end.
#include "printer/raster_output.h"

#include <pthread.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "printer/job_failure.h"
#include "printer/job_output.h"
#include "printer/page_selection.h"
#include "printer/pappl_document_read_fault.h"
#include "printer/pappl_job_thread_fault.h"
#include "printer/pdf_raster_writer.h"

namespace {

// State of one raster job, owned by the job's data pointer between start and end.
struct RasterJob {
  pthread_t owner{};
  std::optional<JobFile> file;
  OutputTarget target;
  std::unique_ptr<PdfRasterWriter> writer;
  bool in_page = false;
  bool failed = false;  // a page or line could not be written: the output is not kept
};

// The job's record when the calling thread is the one writing the job's output.
RasterJob* own_record(pappl_job_t* job) {
  auto* record = static_cast<RasterJob*>(papplJobGetData(job));
  if (record == nullptr || !pthread_equal(record->owner, pthread_self())) return nullptr;
  return record;
}

// The page layout for a page header, or nullopt for a colour space the page cannot carry.
std::optional<RasterPageFormat> page_format(const cups_page_header2_t& header) {
  RasterPageFormat format;
  format.width = header.cupsWidth;
  format.height = header.cupsHeight;
  format.bits = header.cupsBitsPerColor;
  switch (header.cupsColorSpace) {
    case CUPS_CSPACE_K:
      format.components = 1;
      format.inverted = true;
      break;
    case CUPS_CSPACE_W:
    case CUPS_CSPACE_SW:
      format.components = 1;
      break;
    case CUPS_CSPACE_RGB:
    case CUPS_CSPACE_SRGB:
      format.components = 3;
      break;
    case CUPS_CSPACE_CMYK:
      format.components = 4;
      break;
    default:
      return std::nullopt;
  }
  if (header.cupsColorOrder != CUPS_ORDER_CHUNKED ||
      header.cupsBitsPerPixel != format.bits * format.components || header.HWResolution[0] == 0 ||
      header.HWResolution[1] == 0) {
    return std::nullopt;
  }
  // The page size of the header; the raster's own extent when the header gives none.
  format.width_points = header.cupsPageSize[0] > 0
                            ? header.cupsPageSize[0]
                            : 72.0 * header.cupsWidth / header.HWResolution[0];
  format.height_points = header.cupsPageSize[1] > 0
                             ? header.cupsPageSize[1]
                             : 72.0 * header.cupsHeight / header.HWResolution[1];
  return format;
}

// The pages and copies the job asks for that are still to be applied: the framework prints the
// copies of JPEG and PNG images itself (one page each), but passes raster streams on as sent.
PageSelection pending_selection(pappl_job_t* job, const pappl_pr_options_t& options) {
  const char* format = papplJobGetFormat(job);
  const bool image = format != nullptr && (std::strcmp(format, "image/jpeg") == 0 ||
                                           std::strcmp(format, "image/png") == 0);
  return image ? PageSelection{} : job_page_selection(options);
}

// Saves the finished document, reduced to the job's pages and copies when it asks for them.
bool save_document(pappl_job_t* job, const PageSelection& selection, RasterJob& record) {
  if (selects_whole_document(selection)) return commit_job_output(job, *record.file, record.target);
  auto selected_file = open_job_output(job, record.target);
  if (!selected_file) {
    record.file->discard();
    return false;
  }
  const SelectionResult selected =
      write_page_selection(record.file->temp_path(), selection, selected_file->temp_path());
  switch (selected.kind) {
    case SelectionResult::whole_document:
      selected_file->discard();
      return commit_job_output(job, *record.file, record.target);
    case SelectionResult::written:
      record.file->discard();
      return commit_job_output(job, *selected_file, record.target);
    case SelectionResult::unprintable:
      selected_file->discard();
      record.file->discard();
      fail_page_selection(job, selected.error);
      return false;
    case SelectionResult::write_failed:
      record.file->discard();
      errno = selected.write_error;
      fail_job_output(job, *selected_file, record.target);
      return false;
  }
  return false;
}

}  // namespace

bool raster_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  (void)options;
  (void)device;
  // A second processing thread of the same job leaves the output to the first.
  if (claim_job(papplJobGetID(job)).role == JobClaim::duplicate) return true;

  auto record = std::make_unique<RasterJob>();
  record->owner = pthread_self();
  record->file = open_job_output(job, record->target);
  if (record->file) {
    JobFile* file = &*record->file;
    record->writer = std::make_unique<PdfRasterWriter>(
        [file](const void* data, std::size_t size) { return file->write(data, size); });
  }
  papplJobSetData(job, record.release());
  return true;
}

bool raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                       unsigned page) {
  (void)device;
  auto* record = static_cast<RasterJob*>(papplJobGetData(job));
  if (record == nullptr) return true;  // a duplicate thread: nothing to do
  if (!pthread_equal(record->owner, pthread_self())) return true;
  if (!record->writer) return false;
  const auto format = page_format(options->header);
  if (!format) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unsupported raster page %u (%u bits, color space %d).",
                page, options->header.cupsBitsPerPixel, options->header.cupsColorSpace);
    record->failed = true;
    return false;
  }
  if (!record->writer->begin_page(*format)) {
    fail_job_output(job, *record->file, record->target);
    record->failed = true;
    return false;
  }
  record->in_page = true;
  return true;
}

bool raster_write_line(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                       unsigned y, const unsigned char* line) {
  (void)device;
  (void)y;
  auto* record = static_cast<RasterJob*>(papplJobGetData(job));
  if (record == nullptr || !pthread_equal(record->owner, pthread_self())) return true;
  if (!record->in_page || line == nullptr) {
    record->failed = true;
    return false;
  }
  if (!record->writer->write_row(line, options->header.cupsBytesPerLine)) {
    if (!record->failed) fail_job_output(job, *record->file, record->target);
    record->failed = true;
    return false;
  }
  return true;
}

bool raster_end_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page) {
  (void)options;
  (void)device;
  RasterJob* record = own_record(job);
  if (record == nullptr) return true;
  if (!record->in_page) return false;
  record->in_page = false;
  // A page that stopped short (the client went away mid-page) must not pass as printed.
  const bool complete = record->writer->rows_written() == options->header.cupsHeight;
  const bool written = record->writer->end_page();
  if (!complete) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Raster page %u ended after %u of %u lines.", page,
                record->writer->rows_written(), options->header.cupsHeight);
  }
  if (!complete || !written) record->failed = true;
  return written;
}

bool raster_end_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  (void)device;
  RasterJob* raw = own_record(job);
  if (raw == nullptr) return true;
  std::unique_ptr<RasterJob> record(raw);
  papplJobSetData(job, nullptr);

  bool saved = true;
  if (record->file) {
    const int expected = papplJobGetImpressions(job);
    const unsigned pages = record->writer->page_count();
    // A stream cut between two pages ends like a whole one but for the broken connection.
    const bool complete = !record->failed && !record->in_page && pages > 0 &&
                          !papplJobIsCanceled(job) && !take_cut_document(papplJobGetID(job)) &&
                          (expected <= 0 || pages >= static_cast<unsigned>(expected));
    if (complete && !record->writer->finish()) {
      fail_job_output(job, *record->file, record->target);
      saved = false;
    } else if (complete) {
      saved = save_document(job, pending_selection(job, *options), *record);
    } else {
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Raster job incomplete; no document saved.");
      record->file->discard();
      saved = false;
    }
  }
  const int job_id = papplJobGetID(job);
  record.reset();
  finish_job_claim(job_id);
  return saved;
}
