// Creating folders with their parents; the running program's path from /proc/self/exe.
#include "core/folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string_view>

bool create_folder_with_parents(const std::string& folder) {
  for (std::size_t end = folder.find('/', 1); end != std::string::npos;
       end = folder.find('/', end + 1)) {
    mkdir(folder.substr(0, end).c_str(), 0700);
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::string> executable_path() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return std::nullopt;
  return std::string(path, static_cast<std::size_t>(length));
}

std::string executable_folder() {
  const std::optional<std::string> exe = executable_path();
  if (!exe) return ".";
  const auto slash = exe->rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return exe->substr(0, slash);
}
