// The instance lock in the per-user runtime folder and handing a second start over to the first.
#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/callback_handoff.h"
#include "app/runtime_folder.h"
#include "core/log.h"

namespace {
int lock_fd = -1;  // held by the first instance until shutdown
}  // namespace

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

bool claim_first_instance_or_hand_over(const std::string& command_line) {
  if (acquire_instance_lock() != InstanceLock::held_elsewhere) return true;
  log_printf(u"[startup] Second instance, cmdline: %s",
             command_line.empty() ? std::string("(none)") : command_line);
  handle_second_instance(command_line);
  return false;
}
