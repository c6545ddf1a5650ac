// Job output files: hidden temporary name, then an atomic rename that never overwrites; copying
// a document into one.
#include "printer/job_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

#include "core/ascii_case.h"
#include "core/folder_listing.h"
#include "core/text.h"

namespace {

// Longest file name the file systems we write to accept, in bytes.
constexpr std::size_t NAME_LIMIT = 255;

// Room kept for " (NNNNN)" and the extension.
constexpr std::size_t SUFFIX_ROOM = 24;

// Trailing spaces and dots make names that file managers show badly; they are dropped.
void trim_trailing(std::string& name) {
  while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
}

std::atomic<unsigned> temp_counter{0};

// Renames from to to inside dir_fd unless to exists (EEXIST). Where the file system has no
// RENAME_NOREPLACE (renameat2 gives EINVAL on NFS, ENOSYS or EOPNOTSUPP elsewhere), the name is
// first taken with an exclusive create and that empty placeholder of ours is then replaced: the
// file still arrives by a rename, which is what the output folder's watcher reports, and never
// over a file that was there before.
int rename_without_replacing(int dir_fd, const char* from, const char* to) {
  if (renameat2(dir_fd, from, dir_fd, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
  const int placeholder =
      openat(dir_fd, to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (placeholder < 0) return -1;
  close(placeholder);
  if (renameat(dir_fd, from, dir_fd, to) == 0) return 0;
  const int error = errno;
  unlinkat(dir_fd, to, 0);
  errno = error;
  return -1;
}

}  // namespace

std::string job_file_name(const std::string& job_name, int job_id, const std::string& extension,
                          int copy_number) {
  std::string name;
  for (std::size_t i = 0; i < job_name.size();) {
    const TextStep step = decode_utf8_at(job_name, i);
    const std::size_t length = step.length;
    if (!step.valid) {
      name.push_back('_');
      ++i;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(job_name[i]);
    const bool replace = length == 1 && (c < 0x20 || c == 0x7F || c == '/');
    if (name.size() + length > NAME_LIMIT - SUFFIX_ROOM - extension.size()) break;
    if (replace) {
      name.push_back('_');
    } else {
      name.append(job_name, i, length);
    }
    i += length;
  }
  const std::string dot_extension = "." + extension;
  if (!extension.empty() && ends_with_ignoring_case(name, dot_extension)) {
    name.resize(name.size() - dot_extension.size());
  }
  trim_trailing(name);
  while (!name.empty() && name.front() == ' ') name.erase(0, 1);
  if (name.empty()) name = "Print job " + std::to_string(job_id);
  // A leading dot would hide the file from the user and from the folder listing.
  if (name.front() == '.') name.front() = '_';
  if (copy_number > 1) name += " (" + std::to_string(copy_number) + ")";
  if (!extension.empty()) name += dot_extension;
  return name;
}

JobFile::JobFile(int dir_fd, int fd, std::string folder, std::string temp_name, int job_id)
    : dir_fd_(dir_fd),
      fd_(fd),
      folder_(std::move(folder)),
      temp_name_(std::move(temp_name)),
      temp_path_(folder_ + "/" + temp_name_),
      job_id_(job_id) {}

std::optional<JobFile> JobFile::create(const std::string& folder, int job_id) {
  const int dir_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return std::nullopt;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp_name = std::string(JOB_TEMP_PREFIX) + std::to_string(getpid()) + "-" +
                                  std::to_string(job_id) + "-" +
                                  std::to_string(temp_counter.fetch_add(1)) + ".part";
    const int fd = openat(dir_fd, temp_name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) return JobFile(dir_fd, fd, folder, temp_name, job_id);
    if (errno != EEXIST) break;
  }
  const int error = errno;
  close(dir_fd);
  errno = error;
  return std::nullopt;
}

JobFile::JobFile(JobFile&& other) noexcept {
  *this = std::move(other);
}

JobFile& JobFile::operator=(JobFile&& other) noexcept {
  if (this != &other) {
    discard();
    dir_fd_ = other.dir_fd_;
    fd_ = other.fd_;
    folder_ = std::move(other.folder_);
    temp_name_ = std::move(other.temp_name_);
    temp_path_ = std::move(other.temp_path_);
    job_id_ = other.job_id_;
    other.dir_fd_ = -1;
    other.fd_ = -1;
    other.temp_name_.clear();
  }
  return *this;
}

JobFile::~JobFile() {
  discard();
}

bool JobFile::write(const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd_, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

std::optional<std::string> JobFile::commit(const std::string& job_name,
                                           const std::string& extension) {
  if (fd_ < 0) {
    errno = EBADF;
    return std::nullopt;
  }
  // The content is on disk before the name points at it: after a power cut the finished name
  // never stands for an empty or partial file.
  const bool flushed = fsync(fd_) == 0;
  const int flush_error = errno;
  if (close(fd_) != 0 || !flushed) {
    fd_ = -1;
    const int error = flushed ? errno : flush_error;
    discard();
    errno = error;
    return std::nullopt;
  }
  fd_ = -1;
  for (int copy = 1; copy <= 9999; ++copy) {
    const std::string name = job_file_name(job_name, job_id_, extension, copy);
    if (rename_without_replacing(dir_fd_, temp_name_.c_str(), name.c_str()) == 0) {
      temp_name_.clear();
      // The folder's new entry is on disk too before the caller lets the spooled copy go.
      if (fsync(dir_fd_) != 0) {
        const int error = errno;
        unlinkat(dir_fd_, name.c_str(), 0);
        release();
        errno = error;
        return std::nullopt;
      }
      release();
      return folder_ + "/" + name;
    }
    if (errno != EEXIST) break;
  }
  const int error = errno;
  discard();
  errno = error;
  return std::nullopt;
}

void JobFile::discard() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_name_.empty() && dir_fd_ >= 0) unlinkat(dir_fd_, temp_name_.c_str(), 0);
  temp_name_.clear();
  release();
}

void JobFile::release() {
  if (dir_fd_ >= 0) close(dir_fd_);
  dir_fd_ = -1;
}

void remove_stale_job_files(const std::string& folder) {
  FolderListing listing(folder);
  const std::size_t prefix_length = std::strlen(JOB_TEMP_PREFIX);
  while (const char* name = listing.next()) {
    if (std::strncmp(name, JOB_TEMP_PREFIX, prefix_length) == 0) unlinkat(listing.fd(), name, 0);
  }
}

CopyResult copy_document(int fd, JobFile& output) {
  char block[COPY_BLOCK_SIZE];
  off_t offset = 0;
  for (;;) {
    // Positioned reads: the document may have been read before by another holder.
    const ssize_t got = pread(fd, block, sizeof block, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return CopyResult::read_failed;
    if (got == 0) return CopyResult::copied;
    if (!output.write(block, static_cast<std::size_t>(got))) return CopyResult::write_failed;
    offset += got;
  }
}

bool ends_with_pdf_trailer(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return false;
  const off_t size = info.st_size;
  char tail[PDF_TRAILER_WINDOW];
  const off_t start =
      size > static_cast<off_t>(sizeof tail) ? size - static_cast<off_t>(sizeof tail) : 0;
  const std::size_t length = static_cast<std::size_t>(size - start);
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n = pread(fd, tail + got, length - got, start + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return std::string_view(tail, got).find("%%EOF") != std::string_view::npos;
}
