// Preloaded into the program to stand for a file system without RENAME_NOREPLACE (as NFS home
// folders are): every renameat2() fails with EINVAL.
#include <cerrno>

extern "C" int renameat2(int old_dir, const char* old_path, int new_dir, const char* new_path,
                         unsigned int flags) {
  (void)old_dir;
  (void)old_path;
  (void)new_dir;
  (void)new_path;
  (void)flags;
  errno = EINVAL;
  return -1;
}
