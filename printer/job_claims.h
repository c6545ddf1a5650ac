// One output per job. The printer framework may run two processing threads for the same job,
// and may also finish a job without handing it to the driver at all. The registry remembers who
// writes each job's output, and keeps the job's spooled document open from the moment its
// processing starts, so that the document can still be read after the framework has removed
// the spool file.
#pragma once

#include <memory>

// A spooled document held open; closed with its last holder.
class JobDocument {
 public:
  explicit JobDocument(int fd) : fd_(fd) {}
  ~JobDocument();
  JobDocument(const JobDocument&) = delete;
  JobDocument& operator=(const JobDocument&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// The caller's role for a job.
enum class JobClaim {
  owner,      // this thread writes the job's output and must call finish_job_claim()
  duplicate,  // another thread writes (or wrote, or failed) the output; this one must not
};

struct JobClaimResult {
  JobClaim role;
  // For the owner: the job's kept document, null when none was kept.
  std::shared_ptr<const JobDocument> document;
};

// Opens the file at path and keeps it as the job's document, unless one is kept already.
// False when the file cannot be opened (errno set).
bool keep_job_document(int job_id, const char* path);

// Claims the job for the calling thread. A duplicate call waits until the owner has finished.
JobClaimResult claim_job(int job_id);

// For the end of a job's processing; never waits. Drops the registry's hold on the job's
// document, and when no thread ever claimed the job (the driver was never called for it)
// claims it for the caller, who then owns its output and the document.
JobClaimResult claim_finished_job(int job_id);

// Marks the owner's work on the job as done and wakes waiting duplicates.
void finish_job_claim(int job_id);
