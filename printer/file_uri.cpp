// Absolute paths for "file" URIs.
#include "printer/file_uri.h"

#include <unistd.h>

#include <climits>
#include <memory>

std::optional<std::string> to_file_uri_path(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  const std::unique_ptr<char, decltype(&free)> current(getcwd(nullptr, 0), &free);
  if (!current) return std::nullopt;
  std::string absolute = current.get();
  if (absolute.back() != '/') absolute.push_back('/');
  // "." and a leading "./" name the current folder itself.
  std::string_view rest = path;
  while (rest.substr(0, 2) == "./") rest.remove_prefix(2);
  if (rest == ".") rest = {};
  absolute += rest;
  if (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  return absolute;
}
