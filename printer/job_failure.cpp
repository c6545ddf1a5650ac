// Failure reports of jobs: the job's message and reasons, the printer's reasons, the log line
// and the one box per cause.
#include "printer/job_failure.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>

#include "core/log.h"
#include "core/text.h"
#include "platform/message_box.h"
#include "printer/printer_name.h"

namespace {

// What kind of trouble an error stands for; the same kind in the same folder is one cause.
enum class Trouble { full, read_only, missing, other };

Trouble trouble_of(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return Trouble::full;
    case EROFS:
    case EACCES:
    case EPERM:
      return Trouble::read_only;
    case ENOENT:
    case ENOTDIR:
      return Trouble::missing;
    default:
      return Trouble::other;
  }
}

struct Cause {
  Trouble trouble;
  std::string folder;
  bool operator==(const Cause&) const = default;
};

// The cause each stage has a box for, and the printer reason it set; guarded by mutex.
struct StageState {
  std::optional<Cause> shown;
  pappl_preason_t reason = PAPPL_PREASON_NONE;
};

struct Failures {
  std::mutex mutex;
  StageState stages[2];
};

Failures& failures() {
  static Failures instance;
  return instance;
}

StageState& state_of(Failures& all, SaveStage stage) {
  return all.stages[stage == SaveStage::spool ? 0 : 1];
}

std::string job_name_of(pappl_job_t* job) {
  const char* name = papplJobGetName(job);
  return name != nullptr && *name != '\0' ? name
                                          : "Print job " + std::to_string(papplJobGetID(job));
}

// The document sent for the job cannot be printed as it was asked (what: why); logs it and gives
// the job the reason.
void refuse_document(pappl_job_t* job, const char* what, const std::string& why) {
  log_printf(u"[printer] Job %d \"%s\" is not saved: %s", papplJobGetID(job), job_name_of(job),
             why);
  papplJobSetMessage(job, "%s: %s.", what, why.c_str());
  papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM | PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                     PAPPL_JREASON_NONE);
}

}  // namespace

std::string save_failure_cause(SaveStage stage, const std::string& folder, int error) {
  const std::string place =
      (stage == SaveStage::spool ? "the printer's spool folder " : "the output folder ") + folder;
  std::string phrase;
  switch (trouble_of(error)) {
    case Trouble::full:
      phrase = place + " has no space left";
      break;
    case Trouble::read_only:
      phrase = place + " cannot be written to";
      break;
    case Trouble::missing:
      phrase =
          error == ENOTDIR ? place + " is not a folder" : place + " is missing and cannot be made";
      break;
    case Trouble::other:
      phrase = "writing into " + place + " failed";
      break;
  }
  return phrase + " (" + std::strerror(error) + ")";
}

std::u16string save_failure_box_text(const std::string& document, const std::string& cause) {
  return *utf8_to_wide("The document \u201C" + document + "\u201D could not be saved: " + cause +
                       ". Print it again once this is put right.");
}

void fail_unsaved_job(pappl_job_t* job, SaveStage stage, const std::string& folder, int error) {
  const std::string cause = save_failure_cause(stage, folder, error);
  const std::string document = job_name_of(job);
  log_printf(u"[printer] Job %d \"%s\" cannot be saved: %s", papplJobGetID(job), document, cause);
  papplJobSetMessage(job, "Cannot save the document: %s.", cause.c_str());
  papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);

  const Cause now{trouble_of(error), folder};
  const pappl_preason_t reason = stage == SaveStage::spool && now.trouble == Trouble::full
                                     ? PAPPL_PREASON_SPOOL_AREA_FULL
                                     : PAPPL_PREASON_OTHER;
  bool show = false;
  {
    Failures& all = failures();
    std::lock_guard lock(all.mutex);
    StageState& state = state_of(all, stage);
    show = state.shown != now;
    state.shown = now;
    state.reason = reason;
  }
  papplPrinterSetReasons(papplJobGetPrinter(job), reason, PAPPL_PREASON_NONE);
  if (show)
    post_message_box(save_failure_box_text(document, cause), *utf8_to_wide(PRINTER_NAME),
                     MessageBoxIcon::error);
}

void note_stage_worked(pappl_printer_t* printer, SaveStage stage) {
  pappl_preason_t reason = PAPPL_PREASON_NONE;
  {
    Failures& all = failures();
    std::lock_guard lock(all.mutex);
    StageState& state = state_of(all, stage);
    if (!state.shown) return;
    state.shown.reset();
    reason = state.reason;
    state.reason = PAPPL_PREASON_NONE;
  }
  log_printf(u"[printer] Documents are saved again.");
  if (printer != nullptr) papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, reason);
}

void fail_incomplete_job(pappl_job_t* job, const std::string& why) {
  refuse_document(job, "The document is incomplete", why);
}

void fail_page_selection(pappl_job_t* job, const std::string& why) {
  refuse_document(job, "The chosen pages cannot be printed", why);
}
