// The spool folder of a run and the opening of the documents in it.
#include "printer/spool_folder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/folder_listing.h"
#include "core/log.h"
#include "printer/printer_name.h"

namespace {

// Spool folders are named "<prefix><pid>-XXXXXX", so a run can tell which ones are stale.
constexpr const char* SPOOL_PREFIX = ".telvana-spool-";

// True when path is a real folder (not a link) of this user that nobody else can enter.
bool private_folder(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
         (info.st_mode & 077) == 0;
}

// The folder that holds output_folder; "." for a bare relative name.
std::string parent_folder(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const auto slash = folder.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return folder.substr(0, slash);
}

// Longest spool folder path that still holds the framework's socket ("<folder>/<printer
// name><uid>.sock") within a socket address; a longer one would be cut, and the socket would
// land outside the folder.
constexpr std::size_t SPOOL_PATH_LIMIT = sizeof(sockaddr_un::sun_path) - 1 -
                                         std::char_traits<char>::length(PRINTER_NAME) -
                                         std::char_traits<char>::length(".sock") - 10 - 1;

// Longest "/<prefix><pid>-XXXXXX" below the base folder (pids have at most 7 digits).
constexpr std::size_t SPOOL_NAME_LENGTH =
    1 + std::char_traits<char>::length(".telvana-spool-") + 7 + 1 + 6;

// Where spool folders go: the session's runtime folder when it is private, else beside the
// output folder; the temporary folder when the path would be too long for the socket.
// Every move away from the runtime folder is logged: documents then wait on another disk.
std::string spool_base(const std::string& output_folder) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const bool private_runtime = runtime != nullptr && *runtime != '\0' && private_folder(runtime);
  const std::string base = private_runtime ? std::string(runtime) : parent_folder(output_folder);
  if (!private_runtime) {
    log_printf(
        u"[printer] XDG_RUNTIME_DIR (%s) is not a private folder of this user; the spool "
        u"folder goes to %s",
        runtime ? runtime : "unset", base);
  }
  if (base.size() + SPOOL_NAME_LENGTH <= SPOOL_PATH_LIMIT) return base;
  log_printf(
      u"[printer] The spool folder cannot go to %s: its path would be too long for the "
      u"printer's socket; it goes to /tmp",
      base);
  return "/tmp";
}

// Removes spool folders of ours in base whose process is gone: they hold whole documents.
void remove_stale_spool_folders(const std::string& base) {
  FolderListing listing(base);
  const std::size_t prefix_length = std::strlen(SPOOL_PREFIX);
  while (const char* name = listing.next()) {
    unsigned long pid = 0;
    if (std::strncmp(name, SPOOL_PREFIX, prefix_length) != 0 ||
        std::sscanf(name + prefix_length, "%lu-", &pid) != 1 || pid == 0 ||
        static_cast<pid_t>(pid) == getpid()) {
      continue;
    }
    const std::string folder = base + "/" + name;
    if (!private_folder(folder)) continue;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) remove_spool_folder(folder);
  }
}

}  // namespace

std::optional<std::string> create_spool_folder(const std::string& output_folder) {
  const std::string base = spool_base(output_folder);
  remove_stale_spool_folders(base);
  // A fresh name every run: a folder someone made beforehand is never taken over.
  std::string pattern = base + "/" + SPOOL_PREFIX + std::to_string(getpid()) + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) return std::nullopt;
  const std::string folder = name.data();
  if (!private_folder(folder)) {
    rmdir(folder.c_str());
    errno = EPERM;
    return std::nullopt;
  }
  return folder;
}

void remove_spool_folder(const std::string& folder) {
  {
    FolderListing listing(folder);
    while (const char* name = listing.next()) unlinkat(listing.fd(), name, 0);
  }
  rmdir(folder.c_str());
}

int open_spool_document(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat info {};
  const int error = fstat(fd, &info) != 0 ? errno : !S_ISREG(info.st_mode) ? EINVAL : 0;
  if (error == 0) return fd;
  close(fd);
  errno = error;
  return -1;
}

std::string spool_open_error_text(int error) {
  if (error == EINVAL) return "not a regular file";
  if (error == ELOOP) return "the name is a symbolic link";
  return std::strerror(error);
}
