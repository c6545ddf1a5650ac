// Jobs the printer framework finishes without handing them to the driver. While two processing
// threads run at once (the framework sometimes starts two for one job), one job's thread can
// close the printer's shared device just after another job's thread opened it; the framework
// then marks that other job completed with nothing printed. The job registry still holds the
// job's document open, and the document is saved here.
#pragma once

#include <pappl/pappl.h>

#include <chrono>
#include <string>

#include "printer/job_claims.h"

// The system's event callback: keeps each job's document from the moment its processing
// starts, and saves a completed job that no driver call has claimed, on a thread of its own.
void watch_job_events(pappl_system_t* system, pappl_printer_t* printer, pappl_job_t* job,
                      pappl_event_t event, void* data);

// Saves a skipped PDF job's document in the folder of the printer's device URI under the job's
// name, as the driver would have; logs the outcome. False when nothing could be saved.
bool save_skipped_job(int job_id, const std::string& job_name, const std::string& device_uri,
                      const JobDocument& document);

// Waits until no save started by watch_job_events is under way, at most timeout.
void wait_for_skipped_job_saves(std::chrono::milliseconds timeout);
