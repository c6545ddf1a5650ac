// The files the page's own address may serve: only regular files inside the ui folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The real path of the file that the URL path (percent-encoded, starting with '/') names inside
// ui_folder; absent when it names nothing there: a missing file, a folder, or a path that leaves
// the folder by "..", by an encoded "..", by an encoded '/' or NUL, or through a symbolic link.
// A path ending in '/' names that folder's index.html.
std::optional<std::string> page_file_path(const std::string& ui_folder, std::string_view url_path);

// The Content-Type for a file name by its extension (without regard to case);
// "application/octet-stream" for any other.
std::string page_content_type(std::string_view file_name);
