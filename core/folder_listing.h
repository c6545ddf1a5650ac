// Listing a folder's entries through an open folder handle that is closed when it goes.
#pragma once

#include <dirent.h>
#include <fcntl.h>

#include <memory>
#include <string>
#include <string_view>

// One pass over a folder's entries ("." and ".." passed over). The folder's descriptor serves
// the *at calls on the entries while the listing lives.
class FolderListing {
 public:
  explicit FolderListing(const std::string& folder) : dir_(opendir(folder.c_str()), closedir) {}

  // The entries of the folder open as folder_fd, which stays open and the caller's.
  explicit FolderListing(int folder_fd)
      : dir_(fdopendir(fcntl(folder_fd, F_DUPFD_CLOEXEC, 0)), closedir) {}

  // Whether the folder could be opened; a listing that is not open has no entries.
  bool is_open() const { return dir_ != nullptr; }

  // The open folder's descriptor; -1 when not open.
  int fd() const { return dir_ ? dirfd(dir_.get()) : -1; }

  // The next entry's name, valid until the next call; nullptr at the end.
  const char* next() {
    if (!dir_) return nullptr;
    while (const dirent* entry = readdir(dir_.get())) {
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") return entry->d_name;
    }
    return nullptr;
  }

 private:
  std::unique_ptr<DIR, int (*)(DIR*)> dir_;
};
