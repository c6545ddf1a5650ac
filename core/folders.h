// Folders of our own: creating one with its parents, and the folder of the running program.
#pragma once

#include <optional>
#include <string>

// Creates folder with the parents it is missing, each new one with mode 0700 (only the user may
// enter what the program makes); true when folder exists as a folder afterwards.
bool create_folder_with_parents(const std::string& folder);

// Makes folder and everything in it the user's alone: folders mode 0700, everything else 0600,
// whatever modes they had. Nothing is followed. Absent when that is done; otherwise what stands
// in the way ("<path> is a symbolic link", "<path> belongs to uid N", "<path>: <error>"): the
// folder or an entry in it that is a link or belongs to someone else is left as it is.
std::optional<std::string> make_folder_tree_private(const std::string& folder);

// The running executable's real path; absent when it cannot be read.
std::optional<std::string> executable_path();

// The folder holding the running executable (its real path), without a trailing slash.
std::string executable_folder();
