// One output per job: the printer framework may run two processing threads for the same job;
// the first thread to reach the driver owns the job's output, later ones wait and do nothing.
#pragma once

// The caller's role for a job.
enum class JobClaim {
  owner,      // this thread writes the job's output and must call finish_job_claim()
  duplicate,  // another thread wrote (or failed) the output; this thread must not write
};

// Claims the job for the calling thread. A duplicate call waits until the owner has finished.
JobClaim claim_job(int job_id);

// Marks the owner's work on the job as done and wakes waiting duplicates.
void finish_job_claim(int job_id);
