// The printer framework's private spool folder: made fresh for each run in a place only the
// user can enter, and removed when the printer stops.
#pragma once

#include <optional>
#include <string>

// Creates a fresh spool folder (mode 0700, checked for owner and mode) for this process under
// $XDG_RUNTIME_DIR when that is the user's own private folder, else in the parent folder of
// output_folder. Spool folders that killed runs of ours left there are removed first. nullopt
// (errno set) when no private folder can be made.
std::optional<std::string> create_spool_folder(const std::string& output_folder);

// Removes a spool folder with the files in it.
void remove_spool_folder(const std::string& folder);

// Opens a spooled document read-only without following a final link and without blocking on
// a FIFO; -1 with errno set when it cannot, EINVAL when it is not a regular file.
int open_spool_document(const char* path);

// The reason open_spool_document() failed with error, as written into the job's log.
std::string spool_open_error_text(int error);
