// Saving the documents of jobs the framework completed without calling the driver.
#include "printer/skipped_jobs.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "core/log.h"
#include "printer/copy_job.h"
#include "printer/job_output.h"
#include "printer/spool_folder.h"

namespace {

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
    save_skipped_job(job_id, job_name, device_uri, *document);
    finish_job_claim(job_id);
    {
      std::lock_guard lock(count.mutex);
      --count.running;
    }
    count.idle.notify_all();
  }).detach();
}

}  // namespace

void watch_job_events(pappl_system_t* system, pappl_printer_t* printer, pappl_job_t* job,
                      pappl_event_t event, void* data) {
  (void)system;
  (void)printer;
  (void)data;
  if (job == nullptr) return;
  const int job_id = papplJobGetID(job);
  // Only job fields that need no lock are read: the framework holds the job's lock here.
  if (event == PAPPL_EVENT_JOB_STATE_CHANGED && papplJobGetState(job) == IPP_JSTATE_PROCESSING) {
    const char* filename = papplJobGetFilename(job);
    if (filename != nullptr && !keep_job_document(job_id, filename)) {
      papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Cannot keep print file '%s' open: %s", filename,
                  spool_open_error_text(errno).c_str());
    }
    return;
  }
  if (event != PAPPL_EVENT_JOB_COMPLETED) return;
  JobClaimResult claim = claim_finished_job(job_id);
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

bool save_skipped_job(int job_id, const std::string& job_name, const std::string& device_uri,
                      const JobDocument& document) {
  const auto target = output_target_for_uri(device_uri);
  if (!target) {
    log_printf(u"[printer] Job %d: bad output device URI '%s'; its document is lost.", job_id,
               device_uri);
    return false;
  }
  auto output = open_output_file(*target, job_id);
  if (!output) {
    log_printf(u"[printer] Job %d: cannot create output file in '%s': %s", job_id,
               target->folder, strerror(errno));
    return false;
  }
  const CopyResult copied = copy_document(document.fd(), *output);
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

void wait_for_skipped_job_saves(std::chrono::milliseconds timeout) {
  SaveCount& count = save_count();
  std::unique_lock lock(count.mutex);
  count.idle.wait_for(lock, timeout, [&] { return count.running == 0; });
}
