// Streaming copy of a job's document into its output file, in fixed blocks.
#include "printer/copy_job.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "printer/job_failure.h"
#include "printer/job_output.h"
#include "printer/page_selection.h"
#include "printer/pappl_job_thread_fault.h"
#include "printer/spool_folder.h"

namespace {

// The path that opens the file held by fd.
std::string descriptor_path(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

// The owner's copy from the document kept for the job, or from the spool file when none was
// kept; finish_job_claim() is the caller's. The document is kept byte for byte unless the job
// asks for some of its pages or for more than one copy.
bool copy_owned_job(pappl_job_t* job, const PageSelection& selection,
                    std::shared_ptr<const JobDocument> document) {
  if (!document) {
    const char* filename = papplJobGetFilename(job);
    const int fd = open_spool_document(filename ? filename : "");
    if (fd < 0) {
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open print file '%s': %s",
                  filename ? filename : "", spool_open_error_text(errno).c_str());
      return false;
    }
    document = std::make_shared<const JobDocument>(fd);
  }
  // A PDF whose end did not arrive is not a document to fax.
  if (!ends_with_pdf_trailer(document->get())) {
    fail_incomplete_job(job, "it does not end with the PDF trailer (%%EOF)");
    return false;
  }
  OutputTarget target;
  auto output = open_job_output(job, target);
  if (!output) return false;
  if (!selects_whole_document(selection)) {
    const SelectionResult selected =
        write_page_selection(descriptor_path(document->get()), selection, output->temp_path());
    switch (selected.kind) {
      case SelectionResult::written:
        return commit_job_output(job, *output, target);
      case SelectionResult::whole_document:
        break;
      case SelectionResult::unprintable:
        output->discard();
        fail_page_selection(job, selected.error);
        return false;
      case SelectionResult::write_failed:
        errno = selected.write_error;
        fail_job_output(job, *output, target);
        return false;
    }
  }
  switch (copy_document(document->get(), *output)) {
    case CopyResult::copied:
      break;
    case CopyResult::read_failed:
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot read print file for job %d: %s",
                  papplJobGetID(job), strerror(errno));
      output->discard();
      return false;
    case CopyResult::write_failed:
      fail_job_output(job, *output, target);
      return false;
  }
  return commit_job_output(job, *output, target);
}

}  // namespace

bool copy_job_file(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  (void)device;
  papplJobSetImpressions(job, 1);
  const int job_id = papplJobGetID(job);
  JobClaimResult claim = claim_job(job_id);
  if (claim.role == JobClaim::duplicate) {
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Job already printed by another thread.");
    return true;
  }
  // The framework adds the one completed impression itself once this returns true; adding it
  // here as well would report two.
  const bool copied = copy_owned_job(job, job_page_selection(*options), std::move(claim.document));
  finish_job_claim(job_id);
  return copied;
}
