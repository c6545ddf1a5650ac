// The raster callbacks: jobs the framework renders into raster pages become PDF documents in
// the output folder, one PDF page per raster page, arriving like PDF jobs.
#pragma once

#include <pappl/pappl.h>

// Starts the job: attaches its RasterJob record (output file and PDF writer); true.
bool raster_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// Starts a page from the prepared page header; true when the page was started.
bool raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                       unsigned page);

// Adds one line of cupsBytesPerLine bytes; true when it was written.
bool raster_write_line(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                       unsigned y, const unsigned char* line);

// Ends a page; true when it was complete and written.
bool raster_end_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page);

// Ends the job: a complete document gets its final name, anything else is removed; the record
// is detached and freed. True unless a complete document could not be saved.
bool raster_end_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
