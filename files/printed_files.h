// Deleting printed files on the page's behalf.
#pragma once

#include <optional>
#include <string_view>

// Deletes one printed file given by its full path; only a regular file or a link (the link
// itself) directly inside the output folder is deleted. Empty or absent paths do nothing.
// UI thread.
void delete_printed_file(std::optional<std::u16string_view> path);

// Deletes every PDF of the output folder, logging each deletion and each failure. UI thread.
void clear_printed_files();
