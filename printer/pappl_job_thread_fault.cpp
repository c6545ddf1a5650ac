// The job registry (who writes each job's output, the documents kept for jobs), the saving of
// jobs the framework completed without printing, and the re-routing of quit signals.
#include "printer/pappl_job_thread_fault.h"

#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "core/log.h"
#include "printer/job_file.h"
#include "printer/job_output.h"
#include "printer/pappl_document_read_fault.h"
#include "printer/spool_folder.h"

namespace {

// Longest wait of a duplicate driver call for the owner; the owner copies one document, which
// takes far less.
constexpr auto DUPLICATE_WAIT_LIMIT = std::chrono::seconds(30);

constexpr int QUIT_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};

struct JobRecord {
  bool claimed = false;
  bool done = false;
  int running_threads = 0;       // framework threads that reported a start but no finish yet
  std::uint64_t done_order = 0;  // when done: its place among the jobs done so far
  std::shared_ptr<const JobDocument> document;
};

struct JobRegistry {
  std::mutex mutex;
  std::condition_variable finished;
  std::unordered_map<int, JobRecord> jobs;
  std::uint64_t jobs_done = 0;
};

JobRegistry& registry() {
  static JobRegistry instance;
  return instance;
}

// Forgets the jobs no thread can report again (see finish_job_claim()); the registry's lock is
// held.
void forget_settled_jobs(JobRegistry& registry) {
  std::erase_if(registry.jobs, [&](const auto& entry) {
    const JobRecord& job = entry.second;
    return job.done && job.running_threads <= 0 &&
           job.done_order + JOBS_DONE_BEFORE_FORGETTING <= registry.jobs_done;
  });
}

// Claims an unclaimed job for the caller, handing over the document.
JobClaimResult take_ownership(JobRecord& job) {
  job.claimed = true;
  return {JobClaim::owner, std::move(job.document)};
}

// Saves under way, so that a stop can let them end.
struct SaveCount {
  std::mutex mutex;
  std::condition_variable idle;
  int running = 0;
};

SaveCount& save_count() {
  static SaveCount count;
  return count;
}

// Runs on a thread of its own: the framework calls the event callback holding the printer's
// and the job's locks, which must not be held for a whole copy.
void start_save(int job_id, std::string job_name, std::string device_uri,
                std::shared_ptr<const JobDocument> document) {
  SaveCount& count = save_count();
  {
    std::lock_guard lock(count.mutex);
    ++count.running;
  }
  std::thread([=, &count] {
    save_unprinted_job(job_id, job_name, device_uri, *document);
    finish_job_claim(job_id);
    {
      std::lock_guard lock(count.mutex);
      --count.running;
    }
    count.idle.notify_all();
  }).detach();
}

// Async-signal-safe: edits the mask restored on return, then re-sends the signal.
void redeliver(int sig, siginfo_t* info, void* context) {
  (void)info;
  auto* user_context = static_cast<ucontext_t*>(context);
  for (const int quit : QUIT_SIGNALS) sigaddset(&user_context->uc_sigmask, quit);
  kill(getpid(), sig);
}

}  // namespace

bool note_job_thread_started(int job_id, const char* path) {
  JobRegistry& jobs = registry();
  std::lock_guard lock(jobs.mutex);
  JobRecord& job = jobs.jobs[job_id];
  ++job.running_threads;
  if (path == nullptr || job.document || job.claimed) return true;
  const int fd = open_spool_document(path);
  if (fd < 0) return false;
  job.document = std::make_shared<const JobDocument>(fd);
  return true;
}

JobClaimResult claim_job(int job_id) {
  JobRegistry& jobs = registry();
  std::unique_lock lock(jobs.mutex);
  JobRecord& job = jobs.jobs[job_id];
  if (!job.claimed) return take_ownership(job);
  const bool owner_finished = jobs.finished.wait_for(lock, DUPLICATE_WAIT_LIMIT, [&] {
    const auto found = jobs.jobs.find(job_id);
    return found == jobs.jobs.end() || found->second.done;
  });
  if (!owner_finished) {
    log_printf(
        u"[printer] Job %d: a second processing thread stopped waiting for the first; the "
        u"first still writes the job.",
        job_id);
  }
  return {JobClaim::duplicate, nullptr};
}

JobClaimResult note_job_thread_finished(int job_id) {
  JobRegistry& jobs = registry();
  std::lock_guard lock(jobs.mutex);
  JobRecord& job = jobs.jobs[job_id];
  if (job.running_threads > 0) --job.running_threads;
  if (!job.claimed) return take_ownership(job);
  job.document.reset();
  forget_settled_jobs(jobs);
  return {JobClaim::duplicate, nullptr};
}

void finish_job_claim(int job_id) {
  JobRegistry& jobs = registry();
  {
    std::lock_guard lock(jobs.mutex);
    if (const auto found = jobs.jobs.find(job_id); found != jobs.jobs.end()) {
      found->second.done = true;
      found->second.done_order = ++jobs.jobs_done;
    }
    forget_settled_jobs(jobs);
  }
  jobs.finished.notify_all();
}

void watch_job_events(pappl_system_t* system, pappl_printer_t* printer, pappl_job_t* job,
                      pappl_event_t event, void* data) {
  (void)system;
  (void)printer;
  (void)data;
  if (job == nullptr) return;
  const int job_id = papplJobGetID(job);
  // Only job fields that need no lock are read: the framework holds the job's lock here.
  if (event == PAPPL_EVENT_JOB_CREATED) {
    note_job_receiving(job);
    return;
  }
  if (event == PAPPL_EVENT_JOB_STATE_CHANGED && papplJobGetState(job) == IPP_JSTATE_PROCESSING) {
    const char* filename = papplJobGetFilename(job);
    if (!note_job_thread_started(job_id, filename)) {
      papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Cannot keep print file '%s' open: %s", filename,
                  spool_open_error_text(errno).c_str());
    }
    return;
  }
  if (event != PAPPL_EVENT_JOB_COMPLETED) return;
  JobClaimResult claim = note_job_thread_finished(job_id);
  if (claim.role == JobClaim::duplicate) return;
  // Canceled, aborted or stopped jobs are not to be printed.
  if (papplJobGetState(job) != IPP_JSTATE_COMPLETED) {
    finish_job_claim(job_id);
    return;
  }
  const char* format = papplJobGetFormat(job);
  if (!claim.document || format == nullptr || std::strcmp(format, "application/pdf") != 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                "The job was completed without being printed and its document (%s) cannot be "
                "saved.",
                format ? format : "unknown format");
    finish_job_claim(job_id);
    return;
  }
  // Only the printer the program created writes, and only where it was told to.
  if (!own_output_target(papplJobGetPrinter(job))) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                "The job's printer was not created by this program; nothing is written.");
    finish_job_claim(job_id);
    return;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_WARN,
              "The job was completed without being printed; saving its document.");
  const char* name = papplJobGetName(job);
  start_save(job_id, name ? name : "", own_device_uri(), std::move(claim.document));
}

bool save_unprinted_job(int job_id, const std::string& job_name, const std::string& device_uri,
                        const JobDocument& document) {
  const auto target = output_target_for_uri(device_uri);
  if (!target) {
    log_printf(u"[printer] Job %d: bad output device URI '%s'; its document is lost.", job_id,
               device_uri);
    return false;
  }
  if (!ends_with_pdf_trailer(document.get())) {
    log_printf(u"[printer] Job %d: the document does not end with the PDF trailer; not saved.",
               job_id);
    return false;
  }
  auto output = open_output_file(*target, job_id);
  if (!output) {
    log_printf(u"[printer] Job %d: cannot create output file in '%s': %s", job_id, target->folder,
               strerror(errno));
    return false;
  }
  const CopyResult copied = copy_document(document.get(), *output);
  if (copied != CopyResult::copied) {
    log_printf(u"[printer] Job %d: cannot %s the document: %s", job_id,
               copied == CopyResult::read_failed ? "read" : "write", strerror(errno));
    output->discard();
    return false;
  }
  const auto path = output->commit(job_name, target->extension);
  if (!path) {
    log_printf(u"[printer] Job %d: cannot save output file in '%s': %s", job_id, target->folder,
               strerror(errno));
    return false;
  }
  log_printf(u"[printer] Job %d: saved '%s'.", job_id, *path);
  return true;
}

void wait_for_unprinted_job_saves(std::chrono::milliseconds timeout) {
  SaveCount& count = save_count();
  std::unique_lock lock(count.mutex);
  count.idle.wait_for(lock, timeout, [&] { return count.running == 0; });
}

void route_quit_signals_to_waiter() {
  struct sigaction action {};
  action.sa_sigaction = redeliver;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int quit : QUIT_SIGNALS) sigaddset(&action.sa_mask, quit);
  for (const int quit : QUIT_SIGNALS) sigaction(quit, &action, nullptr);
}
