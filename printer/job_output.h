// Where a job's output goes: the printer's "file" device URI names the output folder and the
// extension; the device itself only checks the URI, the job's file is written by the driver.
#pragma once

#include <pappl/pappl.h>

#include <optional>
#include <string>

#include "printer/job_file.h"

struct OutputTarget {
  std::string folder;
  std::string extension;  // from "?ext=", "pdf" when absent
};

// The folder and extension of a "file" device URI such as "file:///home/u/out?ext=pdf";
// nullopt when the URI is not a file URI with an absolute path.
std::optional<OutputTarget> output_target_for_uri(const std::string& device_uri);

// Records the one printer the program created and its device URI. Only that printer writes job
// files, and only into that URI's folder with its extension; the device refuses other URIs.
void set_own_printer(pappl_printer_t* printer, const std::string& device_uri);

// The output of printer when it is the one the program created; nullopt for any other.
std::optional<OutputTarget> own_output_target(pappl_printer_t* printer);

// The device URI recorded by set_own_printer(); empty before.
std::string own_device_uri();

// Registers the printer's own "file" device scheme; must run before the first printer system
// is created so that it takes the place of the framework's built-in one.
void register_output_device();

// Opens a hidden temporary output file for job_id in target's folder (created when missing);
// nullopt with errno set when it cannot.
std::optional<JobFile> open_output_file(const OutputTarget& target, int job_id);

// Opens the hidden temporary output file for the job in its printer's output folder (created
// when missing). Reports the failure for the job (fail_unsaved_job) and returns nullopt when it
// cannot, or when the job's printer is not the one the program created.
std::optional<JobFile> open_job_output(pappl_job_t* job, OutputTarget& target);

// Writing the job's output failed with errno: removes the file and reports the failure.
void fail_job_output(pappl_job_t* job, JobFile& file, const OutputTarget& target);

// Flushes the finished output to disk under its final name; false, with the failure reported
// for the job and nothing left in the folder, when that fails.
bool commit_job_output(pappl_job_t* job, JobFile& file, const OutputTarget& target);
