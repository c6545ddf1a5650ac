// The room left for documents in the output folder, reported as the printer's one supply: a
// printer that saves files uses up disk space, not paper or toner.
#pragma once

#include <pappl/pappl.h>

#include <string>

// Free space of the file system holding folder, in percent of its size; -1 when unknown.
int free_space_percent(const std::string& folder);

// Sets the printer's supply to the free space of folder, when it changed.
void report_output_space(pappl_printer_t* printer, const std::string& folder);
