// The multipart/form-data body of a printed-file upload.
#include "net/upload_body.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/text.h"

std::string upload_boundary(uint32_t tick_count, uint32_t thread_id) {
  char text[32];
  std::snprintf(text, sizeof text, "Boundary-%08X%08X", tick_count, thread_id);
  return text;
}

std::string current_upload_boundary() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t milliseconds =
      static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
  return upload_boundary(static_cast<uint32_t>(milliseconds),
                         static_cast<uint32_t>(syscall(SYS_gettid)));
}

std::string multipart_file_name(std::string_view file_name) {
  return escape_characters(file_name, {{'"', "%22"}, {'\\', "%5C"}, {'\r', "%0D"}, {'\n', "%0A"}});
}

std::string multipart_head(std::string_view boundary, std::string_view file_name) {
  std::string head;
  head.append("--").append(boundary).append("\r\n");
  head.append("Content-Disposition: form-data; name=\"file\"; filename=\"");
  head.append(multipart_file_name(file_name)).append("\"\r\n");
  head.append("Content-Type: application/pdf\r\n\r\n");
  return head;
}

std::string multipart_tail(std::string_view boundary) {
  return std::string("\r\n--").append(boundary).append("--\r\n");
}

namespace {

// Copies from text at offset; the count copied.
std::size_t copy_text(const std::string& text, uint64_t offset, char* buffer, std::size_t size) {
  const std::size_t count = std::min<std::size_t>(size, text.size() - offset);
  std::memcpy(buffer, text.data() + offset, count);
  return count;
}

// Reads file bytes at offset; 0 when the file ends early or cannot be read.
std::size_t read_file_part(int fd, uint64_t offset, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = pread(fd, buffer, size, static_cast<off_t>(offset));
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

}  // namespace

HttpBodySource upload_body_source(UploadBody& body) {
  HttpBodySource source;
  source.length = body.head.size() + body.file_size + body.tail.size();
  source.read = [&body](uint64_t offset, char* buffer, std::size_t size) -> std::size_t {
    if (offset < body.head.size()) return copy_text(body.head, offset, buffer, size);
    offset -= body.head.size();
    if (offset < body.file_size) {
      const std::size_t wanted =
          static_cast<std::size_t>(std::min<uint64_t>(size, body.file_size - offset));
      const std::size_t got = read_file_part(body.fd, offset, buffer, wanted);
      if (got == 0) body.file_failed = true;
      return got;
    }
    offset -= body.file_size;
    return copy_text(body.tail, offset, buffer, size);
  };
  return source;
}
