// Deleting printed files: one by its path, or every PDF of the output folder.
#include "files/printed_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "core/config.h"
#include "core/folder_listing.h"
#include "core/log.h"
#include "core/text.h"
#include "files/printed_file_path.h"

namespace {

// A regular file or a symbolic link may be deleted. unlinkat removes a link itself and never
// follows it, so deleting one cannot reach outside the folder.
bool deletable(const struct stat& info) {
  return S_ISREG(info.st_mode) || S_ISLNK(info.st_mode);
}

// Deletes name inside the folder when it is a regular file or a link there; 0 on success, else
// the error number (EISDIR for a directory, EPERM for any other kind of entry).
int delete_entry(int folder_fd, const char* name) {
  struct stat info;
  if (fstatat(folder_fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (S_ISDIR(info.st_mode)) return EISDIR;
  if (!deletable(info)) return EPERM;
  return unlinkat(folder_fd, name, 0) == 0 ? 0 : errno;
}

}  // namespace

void delete_printed_file(std::optional<std::u16string_view> path) {
  if (!path || path->empty()) return;
  // Only a PDF file or link directly inside the output folder may go (the log and the browser
  // profile live there too); anything else the page names is refused, so it can never remove
  // other files. A failed deletion of a printed file is not reported.
  std::optional<std::string> name = printed_file_name(*path);
  if (name && !matches_pdf_pattern(*name)) name.reset();
  const std::string& folder = app_config().output_folder.utf8;
  const int folder_fd = name ? open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  struct stat info;
  const bool found =
      folder_fd >= 0 && fstatat(folder_fd, name->c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
  if (found && deletable(info)) unlinkat(folder_fd, name->c_str(), 0);
  if (folder_fd >= 0) close(folder_fd);
  if (!name || (found && !deletable(info))) {
    log_printf(u"[deletePrintedFile] Refused \"%s\": not a printed file in the output folder",
               json_escape(*path));
  }
}

void clear_printed_files() {
  FolderListing listing(app_config().output_folder.utf8);
  const int folder_fd = listing.fd();
  while (const char* entry = listing.next()) {
    const std::string_view name = entry;
    if (!matches_pdf_pattern(name)) continue;
    const int error = delete_entry(folder_fd, entry);
    if (error == 0) {
      log_printf(u"[clearPrintedFiles] Deleted %s", name);
    } else {
      log_printf(u"[clearPrintedFiles] Failed to delete %s (err=%lu)", name,
                 static_cast<unsigned long>(error));
    }
  }
}
