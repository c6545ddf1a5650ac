// Page selection with libqpdf: the document's pages are copied by reference, so copies of a page
// share its content instead of repeating it.
#include "printer/page_selection.h"

#include <qpdf/qpdf-c.h>
#include <qpdf/qpdfjob-c.h>
#include <qpdf/qpdflogger-c.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using QpdfData = std::unique_ptr<std::remove_pointer_t<qpdf_data>, void (*)(qpdf_data)>;

void free_qpdf(qpdf_data data) {
  qpdf_cleanup(&data);
}

// Collects what the library reports as errors.
int append_text(char const* data, size_t length, void* text) {
  static_cast<std::string*>(text)->append(data, length);
  return 0;
}

// The number of pages of the PDF document at path, or 0 with error set.
int page_count(const std::string& path, std::string& error) {
  QpdfData qpdf(qpdf_init(), free_qpdf);
  qpdf_set_suppress_warnings(qpdf.get(), QPDF_TRUE);
  if ((qpdf_read(qpdf.get(), path.c_str(), "") & QPDF_ERRORS) != 0) {
    error = qpdf_get_error_full_text(qpdf.get(), qpdf_get_error(qpdf.get()));
    return 0;
  }
  const int count = qpdf_get_num_pages(qpdf.get());
  if (count <= 0) {
    error = qpdf_has_error(qpdf.get())
                ? qpdf_get_error_full_text(qpdf.get(), qpdf_get_error(qpdf.get()))
                : "the document has no pages";
    return 0;
  }
  return count;
}

// Runs the library's job for argv; an empty text on success (warnings included).
std::string run_qpdf_job(const std::vector<const char*>& argv) {
  std::string errors;
  qpdflogger_handle logger = qpdflogger_create();
  qpdflogger_set_info(logger, qpdf_log_dest_discard, nullptr, nullptr);
  qpdflogger_set_warn(logger, qpdf_log_dest_discard, nullptr, nullptr);
  qpdflogger_set_error(logger, qpdf_log_dest_custom, append_text, &errors);
  qpdfjob_handle job = qpdfjob_init();
  qpdfjob_set_logger(job, logger);
  int status = qpdfjob_initialize_from_argv(job, argv.data());
  if (status == qpdf_exit_success) status = qpdfjob_run(job);
  qpdfjob_cleanup(&job);
  qpdflogger_cleanup(&logger);
  if (status == qpdf_exit_success || status == qpdf_exit_warning) return "";
  while (!errors.empty() && (errors.back() == '\n' || errors.back() == '\r')) errors.pop_back();
  return errors.empty() ? "the document could not be rewritten" : errors;
}

// The errno behind a failed write, from the system's text the library reports for it.
int write_error_of(const std::string& error) {
  for (const int candidate : {ENOSPC, EDQUOT, EFBIG, EROFS, EACCES, EPERM, ENOENT}) {
    if (error.find(std::strerror(candidate)) != std::string::npos) return candidate;
  }
  return EIO;
}

}  // namespace

PageSelection job_page_selection(const pappl_pr_options_t& options) {
  PageSelection selection;
  selection.first = std::max(options.first_page, 1u);
  // The framework gives INT_MAX for "to the end" when it does not know the document's length.
  selection.last =
      options.last_page >= static_cast<unsigned>(INT_MAX) ? UINT_MAX : options.last_page;
  selection.copies = std::max(options.copies, 1);
  return selection;
}

bool selects_whole_document(const PageSelection& selection) {
  return selection.first == 1 && selection.last == UINT_MAX && selection.copies == 1;
}

SelectionResult write_page_selection(const std::string& input_path, const PageSelection& selection,
                                     const std::string& output_path) {
  SelectionResult result;
  const int pages = page_count(input_path, result.error);
  if (pages == 0) return result;
  const auto count = static_cast<unsigned>(pages);
  if (selection.first > count || selection.first > selection.last) {
    result.error =
        "page-ranges " + std::to_string(selection.first) + "-" +
        (selection.last == UINT_MAX ? std::string("end") : std::to_string(selection.last)) +
        " selects none of the document's " + std::to_string(pages) + " pages";
    return result;
  }
  const unsigned last = std::min(selection.last, count);
  if (selection.first == 1 && last == count && selection.copies == 1) {
    result.kind = SelectionResult::whole_document;
    return result;
  }
  const std::string range = selection.first == last
                                ? std::to_string(last)
                                : std::to_string(selection.first) + "-" + std::to_string(last);
  std::string ranges;
  for (int copy = 0; copy < selection.copies; ++copy) {
    if (copy > 0) ranges += ',';
    ranges += range;
  }
  // The document stays the primary input, so that its own information (title, author) is kept.
  const std::vector<const char*> argv = {
      "qpdf", input_path.c_str(),  "--pages", ".", ranges.c_str(),
      "--",   output_path.c_str(), nullptr};
  result.error = run_qpdf_job(argv);
  if (result.error.empty()) {
    result.kind = SelectionResult::written;
  } else {
    result.kind = SelectionResult::write_failed;
    result.write_error = write_error_of(result.error);
  }
  return result;
}
