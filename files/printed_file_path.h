// Which paths the page may act on: regular files directly inside the output folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The file's bare name (UTF-8) when path is the output folder, '/', and a single name that is
// not "." or ".."; absent for any other path. Whether the name is a regular file is checked by
// the caller when it opens or deletes it relative to the folder, without following links.
std::optional<std::string> printed_file_name(std::u16string_view path);

// True for a name the listing pattern "*.pdf" matches: ending in ".pdf" in any case, ".pdf"
// itself included. The folder's PDFs are listed, uploaded and deleted by this test.
bool matches_pdf_pattern(std::string_view name);

// True for a name that the watcher reports when a file is renamed to it: longer than ".pdf" and
// ending in ".pdf" in any case.
bool is_pdf_name(std::string_view name);
