// Mapping the page's URL paths onto the ui folder without ever leaving it.
#include "bridge/page_files.h"

#include <sys/stat.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <utility>

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One percent-decoded path segment; absent when it decodes to something that could change
// which folder is meant (an encoded '/' or '\\', a NUL) or holds a malformed escape.
std::optional<std::string> decode_segment(std::string_view segment) {
  std::string out;
  for (std::size_t i = 0; i < segment.size(); ++i) {
    if (segment[i] != '%') {
      out.push_back(segment[i]);
      continue;
    }
    if (i + 2 >= segment.size()) return std::nullopt;
    const int high = hex_value(segment[i + 1]);
    const int low = hex_value(segment[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    const char c = static_cast<char>(high * 16 + low);
    if (c == '\0' || c == '/' || c == '\\') return std::nullopt;
    out.push_back(c);
    i += 2;
  }
  return out;
}

std::optional<std::string> real_path(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
  return std::string(resolved);
}

}  // namespace

std::optional<std::string> page_file_path(const std::string& ui_folder, std::string_view url_path) {
  if (url_path.empty() || url_path.front() != '/') return std::nullopt;
  // The query and fragment never name a file.
  url_path = url_path.substr(0, url_path.find_first_of("?#"));
  std::string relative;
  std::size_t start = 1;
  while (start <= url_path.size()) {
    std::size_t end = url_path.find('/', start);
    if (end == std::string_view::npos) end = url_path.size();
    const auto segment = decode_segment(url_path.substr(start, end - start));
    if (!segment) return std::nullopt;
    if (*segment == "..") return std::nullopt;
    if (!segment->empty() && *segment != ".") relative += "/" + *segment;
    start = end + 1;
  }
  if (url_path.back() == '/') relative += "/index.html";
  if (relative.empty()) return std::nullopt;

  const auto root = real_path(ui_folder);
  const auto file = real_path(ui_folder + relative);
  if (!root || !file) return std::nullopt;
  // Symbolic links are followed by realpath: whatever they point at must still lie inside.
  if (file->size() <= root->size() + 1 || file->compare(0, root->size(), *root) != 0 ||
      (*file)[root->size()] != '/') {
    return std::nullopt;
  }
  struct stat info {};
  if (stat(file->c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return file;
}

std::string page_content_type(std::string_view file_name) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 18> types{{
      {"html", "text/html; charset=utf-8"},
      {"htm", "text/html; charset=utf-8"},
      {"js", "text/javascript; charset=utf-8"},
      {"mjs", "text/javascript; charset=utf-8"},
      {"css", "text/css; charset=utf-8"},
      {"json", "application/json"},
      {"map", "application/json"},
      {"txt", "text/plain; charset=utf-8"},
      {"svg", "image/svg+xml"},
      {"png", "image/png"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"webp", "image/webp"},
      {"ico", "image/x-icon"},
      {"woff", "font/woff"},
      {"woff2", "font/woff2"},
      {"wasm", "application/wasm"},
  }};
  const auto dot = file_name.rfind('.');
  const auto slash = file_name.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return "application/octet-stream";
  }
  std::string extension(file_name.substr(dot + 1));
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const auto& [name, type] : types) {
    if (extension == name) return std::string(type);
  }
  return "application/octet-stream";
}
