// Creating folders with their parents; the running program's path from /proc/self/exe.
#include "core/folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

#include "core/folder_listing.h"
#include "core/unique_fd.h"

namespace {

std::string error_text(const std::string& path, int error = errno) {
  return path + ": " + std::strerror(error);
}

// What keeps an entry of the given status from being made the user's alone, if anything.
std::optional<std::string> foreign_entry(const std::string& path, const struct stat& info) {
  if (S_ISLNK(info.st_mode)) return path + " is a symbolic link";
  if (info.st_uid != geteuid()) return path + " belongs to uid " + std::to_string(info.st_uid);
  return std::nullopt;
}

// Makes the open folder fd (at path) and everything in it private. The folder itself is closed
// to others first, so that nothing in it can be exchanged while the rest is seen to.
std::optional<std::string> make_open_tree_private(int fd, const std::string& path) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return error_text(path);
  if (auto fault = foreign_entry(path, info)) return fault;
  if ((info.st_mode & 07777) != 0700 && fchmod(fd, 0700) != 0) return error_text(path);
  FolderListing listing(fd);
  while (const char* name = listing.next()) {
    const std::string entry = path + "/" + name;
    if (fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return error_text(entry);
    if (auto fault = foreign_entry(entry, info)) return fault;
    if (S_ISDIR(info.st_mode)) {
      const UniqueFd child(openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!child.is_open()) return error_text(entry);
      if (auto fault = make_open_tree_private(child.get(), entry)) return fault;
    } else if ((info.st_mode & 07777) != 0600 && fchmodat(fd, name, 0600, 0) != 0) {
      return error_text(entry);
    }
  }
  return std::nullopt;
}

}  // namespace

bool create_folder_with_parents(const std::string& folder) {
  for (std::size_t end = folder.find('/', 1); end != std::string::npos;
       end = folder.find('/', end + 1)) {
    mkdir(folder.substr(0, end).c_str(), 0700);
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::string> make_folder_tree_private(const std::string& folder) {
  const UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.is_open()) return make_open_tree_private(fd.get(), folder);
  const int error = errno;
  struct stat info {};
  if (lstat(folder.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    return folder + " is a symbolic link";
  }
  return error_text(folder, error);
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
