// Work-arounds for faults of the printer framework, PAPPL 1.3.1, kept in one place.
//
// What goes wrong:
// - _papplPrinterCheckJobs() (job.c) tests `processing_job` before taking the printer's lock and
//   the job only becomes "processing" later, in start_job() (job-process.c) of the new thread.
//   Two callers at once (a new job arriving while finish_job() of the previous one checks for
//   more) each start a _papplJobProcess() thread for the same job, so the driver may be called
//   twice for one job.
// - finish_job() (job-process.c) of either thread clears the printer's `processing_job` and,
//   for a "file:" device URI, closes the printer's shared device, even while the other thread or
//   the next job's thread uses them. Under concurrent clients this ends with jobs marked
//   completed without the driver ever having been called for them. finish_job() also removes
//   the spool file, so the document is held open from the moment the job starts.
// - papplSystemRun() (system.c) installs process-wide signal() handlers for SIGTERM, SIGINT and
//   SIGHUP, which then run on whichever thread does not block them.
//
// What a later version must fix before this module can go: start at most one processing thread
// per job (test and claim the job under the printer's lock), never close a device another job's
// thread is using, and leave signal handling to the application (or make it optional). Then the
// driver callbacks can write directly and watch_job_events() is no longer needed.
#pragma once

#include <pappl/pappl.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "core/unique_fd.h"

// A spooled document held open; closed with its last holder.
using JobDocument = UniqueFd;

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

// A framework thread started processing the job. Opens the file at path (when given) and keeps
// it as the job's document, unless one is kept already or the job is claimed. False when the
// file cannot be opened (errno set).
bool note_job_thread_started(int job_id, const char* path);

// Claims the job for the calling driver thread. A duplicate waits until the owner has finished,
// for at most a bounded time, so that the framework does not report the job completed before
// its output is there.
JobClaimResult claim_job(int job_id);

// A framework thread finished the job; never waits. Drops the hold on the job's document, and
// when no thread ever claimed the job (the driver was never called for it) claims it for the
// caller, who then owns its output and the document.
JobClaimResult note_job_thread_finished(int job_id);

// How many other jobs must be done after a job before it can be forgotten.
inline constexpr std::uint64_t JOBS_DONE_BEFORE_FORGETTING = 8;

// Marks the owner's work on the job as done and wakes waiting duplicates. A job is forgotten
// once it is done, every framework thread that reported its start has finished, and
// JOBS_DONE_BEFORE_FORGETTING other jobs have been done since: a duplicate thread is started
// before the first one marks the job processing and then only waits for the printer's lock, so
// it reports its start long before the framework gets through further jobs.
void finish_job_claim(int job_id);

// The system's event callback: reports each job's framework threads as above, and saves a
// completed job that no driver call has claimed, on a thread of its own.
void watch_job_events(pappl_system_t* system, pappl_printer_t* printer, pappl_job_t* job,
                      pappl_event_t event, void* data);

// Saves the document of a PDF job the framework completed without printing in the folder of
// the printer's device URI under the job's name, as the driver would have; logs the outcome.
// False when nothing could be saved.
bool save_unprinted_job(int job_id, const std::string& job_name, const std::string& device_uri,
                        const JobDocument& document);

// Waits until no save started by watch_job_events is under way, at most timeout.
void wait_for_unprinted_job_saves(std::chrono::milliseconds timeout);

// Replaces the framework's SIGTERM, SIGINT and SIGHUP handlers with one that blocks the signal
// in the thread that caught it (a library thread that never blocked it) and sends it to the
// process again, so that it reaches the application's signal-waiting thread. Safe to call more
// than once.
void route_quit_signals_to_waiter();
