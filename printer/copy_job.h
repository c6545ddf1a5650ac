// The print-file callback: a PDF job lands in the output folder byte for byte.
#pragma once

#include <pappl/pappl.h>

#include "printer/job_file.h"

// Size of the one read buffer of a copy.
inline constexpr std::size_t COPY_BLOCK_SIZE = 65536;

// Outcome of streaming a document into an output file.
enum class CopyResult { copied, read_failed, write_failed };

// Copies the whole document open at fd, from its first byte, into output (errno set on a
// failure). A document that cannot be read to its end is a failure, never a shorter copy.
CopyResult copy_document(int fd, JobFile& output);

// Copies the job's document unchanged into its output file and gives the file its final name;
// one impression, counted as completed by the framework. False (logged for the job, nothing left in
// the folder) when the document cannot be read or the output cannot be written.
bool copy_job_file(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
