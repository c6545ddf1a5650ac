// File-system paths as the path part of a "file" URI.
#pragma once

#include <optional>
#include <string>

// The absolute form of path (made absolute against the current folder), used as the path of
// a "file" URI; nullopt when the current folder cannot be read. Paths are never cut.
std::optional<std::string> to_file_uri_path(const std::string& path);
