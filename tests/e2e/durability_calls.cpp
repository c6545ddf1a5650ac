// Preloaded into the program to record, in call order, what it flushes, renames and removes:
// one line per call ("fsync <path>", "rename <new name>", "unlink <path>") appended to the file
// named by TELVANA_CALL_RECORD.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void record(const char* call, const std::string& what) {
  static const char* path = std::getenv("TELVANA_CALL_RECORD");
  if (path == nullptr) return;
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const std::string line = std::string(call) + " " + what + "\n";
  (void)!write(fd, line.data(), line.size());
  close(fd);
}

std::string fd_path(int fd) {
  char link[64], target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, target, sizeof target - 1);
  return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : "?";
}

template <class Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int fsync(int fd) {
  record("fsync", fd_path(fd));
  return next<int (*)(int)>("fsync")(fd);
}

extern "C" int renameat2(int old_dir, const char* old_path, int new_dir, const char* new_path,
                         unsigned int flags) {
  const int result = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(
      old_dir, old_path, new_dir, new_path, flags);
  if (result == 0) record("rename", new_path);
  return result;
}

extern "C" int unlink(const char* path) {
  record("unlink", path);
  return next<int (*)(const char*)>("unlink")(path);
}
