// Telling why a job was not saved: to the client (the job's and the printer's state), to the
// log, and to the user in one message box per cause.
#pragma once

#include <pappl/pappl.h>

#include <string>

// Where a document is written on its way to the output folder.
enum class SaveStage { spool, output };

// The job's document cannot be saved: writing into folder at stage failed with error. Logs it,
// gives the job the cause as its state message, adds the printer state reason of the stage
// ("spool-area-full" for a full spool, "other" otherwise), and shows a box naming the document
// and the cause unless one is already shown for the same cause, which lasts until a document
// passes the stage again (note_stage_worked).
void fail_unsaved_job(pappl_job_t* job, SaveStage stage, const std::string& folder, int error);

// A document passed stage: a cause of failure there is over, its printer state reason is
// removed, and a new failure shows a box again.
void note_stage_worked(pappl_printer_t* printer, SaveStage stage);

// The job's document arrived incomplete (why says how); logs it and gives the job the reason.
// The client's own failure: no box.
void fail_incomplete_job(pappl_job_t* job, const std::string& why);

// The pages the job asks for cannot be taken from its document (why says why: it is not a PDF
// that can be read, or it has none of them); logs it and gives the job the reason. The client's
// own failure: no box.
void fail_page_selection(pappl_job_t* job, const std::string& why);

// What went wrong at stage in folder with error, as one phrase ("the output folder /x has no
// space left (No space left on device)").
std::string save_failure_cause(SaveStage stage, const std::string& folder, int error);

// The text of the box for a document that cannot be saved.
std::u16string save_failure_box_text(const std::string& document, const std::string& cause);
