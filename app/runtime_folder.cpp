// The per-user runtime folder: $XDG_RUNTIME_DIR, or a private folder of our own in /tmp.
#include "app/runtime_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/log.h"

std::optional<std::string> instance_runtime_folder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] != '\0') return std::string(runtime);

  // Without a runtime folder, a private folder in /tmp; anyone could have made that name first,
  // so it is used only when it is ours and closed to others.
  const std::string folder = "/tmp/telvana-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid() ||
      (info.st_mode & 077) != 0) {
    log_printf(u"[startup] Runtime folder %s is not private to this user; not used", folder);
    return std::nullopt;
  }
  return folder;
}
