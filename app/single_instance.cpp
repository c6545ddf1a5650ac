// The instance lock in the per-user runtime folder and the second-instance road.
#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/callback_handoff.h"
#include "app/log.h"

namespace {
int lock_fd = -1;  // held by the first instance until shutdown
}  // namespace

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

InstanceLock acquire_instance_lock() {
  if (lock_fd >= 0) return InstanceLock::acquired;
  const std::optional<std::string> folder = instance_runtime_folder();
  if (!folder) return InstanceLock::unavailable;
  const std::string path = *folder + "/" + INSTANCE_LOCK_NAME;
  // Close-on-exec: a program started from here must not keep the lock alive after we exit.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return InstanceLock::unavailable;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    lock_fd = fd;
    return InstanceLock::acquired;
  }
  const int error = errno;
  close(fd);
  return error == EWOULDBLOCK ? InstanceLock::held_elsewhere : InstanceLock::unavailable;
}

void release_instance_lock() {
  if (lock_fd < 0) return;
  close(lock_fd);
  lock_fd = -1;
}

bool pass_single_instance_test(const std::string& command_line) {
  if (acquire_instance_lock() != InstanceLock::held_elsewhere) return true;
  log_printf(u"[startup] Second instance, cmdline: %s",
             command_line.empty() ? std::string("(none)") : command_line);
  handle_second_instance(command_line);
  return false;
}
