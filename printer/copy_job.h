// The print-file callback: a PDF job lands in the output folder byte for byte.
#pragma once

#include <pappl/pappl.h>

#include "printer/job_file.h"

// Copies the job's document unchanged into its output file and gives the file its final name;
// one impression, counted as completed by the framework. False (logged for the job, nothing left in
// the folder) when the document cannot be read or the output cannot be written.
bool copy_job_file(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
