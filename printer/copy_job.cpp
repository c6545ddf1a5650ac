// Streaming copy of a job's document into its output file, in fixed blocks.
#include "printer/copy_job.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "printer/job_claims.h"
#include "printer/job_output.h"

namespace {

// Closes the document whatever road the copy takes.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

// The owner's copy; finish_job_claim() is the caller's.
bool copy_document(pappl_job_t* job) {
  const char* filename = papplJobGetFilename(job);
  const int document = open(filename ? filename : "", O_RDONLY | O_CLOEXEC);
  if (document < 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open print file '%s': %s",
                filename ? filename : "", strerror(errno));
    return false;
  }
  FdCloser closer{document};
  OutputTarget target;
  auto output = open_job_output(job, target);
  if (!output) return false;

  char block[COPY_BLOCK_SIZE];
  for (;;) {
    const ssize_t got = read(document, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    // A read error ends the copy like the end of the file.
    if (got <= 0) break;
    if (!output->write(block, static_cast<std::size_t>(got))) {
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot write output file '%s': %s",
                  output->temp_path().c_str(), strerror(errno));
      output->discard();
      return false;
    }
  }
  return commit_job_output(job, *output, target);
}

}  // namespace

bool copy_job_file(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  (void)options;
  (void)device;
  papplJobSetImpressions(job, 1);
  const int job_id = papplJobGetID(job);
  if (claim_job(job_id) == JobClaim::duplicate) {
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Job already printed by another thread.");
    return true;
  }
  // The framework adds the one completed impression itself once this returns true; adding it
  // here as well would report two.
  const bool copied = copy_document(job);
  finish_job_claim(job_id);
  return copied;
}
