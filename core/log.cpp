// The log file: open, header, rotation, and thread-safe line writing.
#include "core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "core/folder_listing.h"
#include "core/text.h"

namespace {

std::mutex log_mutex;  // guards every write, the reopening and the rotation
int log_fd = -1;
std::string log_path;
bool log_wanted = false;  // opened and not closed: a line that cannot be written is lost
dev_t log_dev = 0;        // the file log_fd writes
ino_t log_ino = 0;
bool rotation_enabled = true;
unsigned long long lost_lines = 0;  // lines not written since writing last worked
bool line_cut = false;              // the last write stopped inside its line

// Opens the log path for appending; -1 on failure. A symbolic link in its place is not
// followed, and the open never waits (a FIFO that nobody reads fails at once).
int open_log_file(const std::string& path) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) return -1;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// Makes fd the log; the caller holds log_mutex.
void use_log_fd(int fd) {
  log_fd = fd;
  struct stat info {};
  if (fd >= 0 && fstat(fd, &info) == 0) {
    log_dev = info.st_dev;
    log_ino = info.st_ino;
  }
}

// Points every other descriptor of this process that still writes the old log file (the
// printer framework's own log handle) at the new file, so its lines follow.
void redirect_other_handles(dev_t old_dev, ino_t old_ino, int new_fd) {
  FolderListing listing("/proc/self/fd");
  const int dir_fd = listing.fd();
  while (const char* name = listing.next()) {
    char* end = nullptr;
    const long fd = std::strtol(name, &end, 10);
    if (end == name || *end != '\0') continue;
    if (fd == dir_fd || fd == new_fd) continue;
    struct stat info;
    if (fstat(static_cast<int>(fd), &info) != 0) continue;
    if (info.st_dev != old_dev || info.st_ino != old_ino) continue;
    if (fcntl(static_cast<int>(fd), F_GETFL) & O_ACCMODE) {
      const int flags = fcntl(static_cast<int>(fd), F_GETFD);
      dup3(new_fd, static_cast<int>(fd), (flags & FD_CLOEXEC) ? O_CLOEXEC : 0);
    }
  }
}

// Closes the log and opens the file now at its path, taking the other handles of the old file
// along; the caller holds log_mutex.
void reopen_log() {
  const dev_t old_dev = log_dev;
  const ino_t old_ino = log_ino;
  const bool had_file = log_fd >= 0;
  if (had_file) close(log_fd);
  use_log_fd(open_log_file(log_path));
  if (log_fd >= 0 && had_file) redirect_other_handles(old_dev, old_ino, log_fd);
}

// Reopens the log when its file was removed or moved away from the path (the output folder
// was deleted or renamed), or when it could not be opened before; the caller holds log_mutex.
void reopen_if_replaced() {
  struct stat info {};
  if (log_fd >= 0 && stat(log_path.c_str(), &info) == 0 && info.st_dev == log_dev &&
      info.st_ino == log_ino) {
    return;
  }
  reopen_log();
}

// Moves a full log to "<path>.1" and opens a fresh one; the caller holds log_mutex.
void rotate_if_full() {
  if (!rotation_enabled || log_fd < 0) return;
  struct stat info {};
  if (fstat(log_fd, &info) != 0 || info.st_size < LOG_ROTATE_SIZE) return;
  const std::string rotated = log_path + ".1";
  unlink(rotated.c_str());
  rename(log_path.c_str(), rotated.c_str());
  reopen_log();
}

// Appends text with one write, so that no other writer's bytes land inside it. A line cut
// short (the disk is full) is ended before the next one, so that the two never join.
bool write_whole(std::string text) {
  if (log_fd < 0) return false;
  if (line_cut) text.insert(0, 1, '\n');
  ssize_t written = 0;
  do {
    written = write(log_fd, text.data(), text.size());
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(text.size())) {
    line_cut = false;
    return true;
  }
  if (written > 0) line_cut = true;
  return false;
}

// Local time of now.
std::tm local_now() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return parts;
}

// Formats one integer or floating conversion through snprintf with the directive as written.
std::string format_number(const std::string& directive, char conversion, const LogArg& arg) {
  char buffer[512];
  std::string narrow = directive;
  if (conversion == 'f' || conversion == 'e' || conversion == 'g' || conversion == 'F' ||
      conversion == 'E' || conversion == 'G') {
    double value = 0;
    if (auto d = std::get_if<double>(&arg))
      value = *d;
    else if (auto i = std::get_if<long long>(&arg))
      value = static_cast<double>(*i);
    else if (auto u = std::get_if<unsigned long long>(&arg))
      value = static_cast<double>(*u);
    narrow += conversion;
    std::snprintf(buffer, sizeof buffer, narrow.c_str(), value);
    return buffer;
  }
  if (conversion == 'p') {
    const void* value = nullptr;
    if (auto p = std::get_if<const void*>(&arg)) value = *p;
    narrow += 'p';
    std::snprintf(buffer, sizeof buffer, narrow.c_str(), value);
    return buffer;
  }
  unsigned long long bits = 0;
  if (auto i = std::get_if<long long>(&arg))
    bits = static_cast<unsigned long long>(*i);
  else if (auto u = std::get_if<unsigned long long>(&arg))
    bits = *u;
  else if (auto d = std::get_if<double>(&arg))
    bits = static_cast<unsigned long long>(*d);
  narrow += "ll";
  narrow += conversion;
  if (conversion == 'd' || conversion == 'i') {
    std::snprintf(buffer, sizeof buffer, narrow.c_str(), static_cast<long long>(bits));
  } else if (conversion == 'c') {
    return std::string(1, static_cast<char>(bits));
  } else {
    std::snprintf(buffer, sizeof buffer, narrow.c_str(), bits);
  }
  return buffer;
}

// A logged value as one piece of one line: control characters (C0, DEL, C1) are written as
// escapes (\n, \r, \t, \xHH, \uHHHH), so that a value can neither end its record nor start a
// forged one.
void append_escaped(std::u16string& out, std::u16string_view value) {
  for (const char16_t c : value) {
    if (c >= 0x20 && c != 0x7F && (c < 0x80 || c > 0x9F)) {
      out.push_back(c);
    } else if (c == u'\n') {
      out += u"\\n";
    } else if (c == u'\r') {
      out += u"\\r";
    } else if (c == u'\t') {
      out += u"\\t";
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, c < 0x80 ? "\\x%02X" : "\\u%04X",
                    static_cast<unsigned>(c));
      for (const char* p = escape; *p != '\0'; ++p) out.push_back(static_cast<char16_t>(*p));
    }
  }
}

}  // namespace

void log_set_rotation(bool enabled) {
  std::lock_guard lock(log_mutex);
  rotation_enabled = enabled;
}

bool log_open(const std::string& path_utf8) {
  std::lock_guard lock(log_mutex);
  if (log_fd >= 0) close(log_fd);
  log_path = path_utf8;
  use_log_fd(open_log_file(log_path));
  log_wanted = log_fd >= 0;
  lost_lines = 0;
  line_cut = false;
  return log_wanted;
}

void log_write_header() {
  const std::tm t = local_now();
  char header[96];
  std::snprintf(header, sizeof header,
                "\n--- Telvana Print-to-Fax started %04d-%02d-%02d %02d:%02d:%02d ---\n",
                t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  std::lock_guard lock(log_mutex);
  if (log_wanted && !write_whole(header)) ++lost_lines;
}

void log_close() {
  std::lock_guard lock(log_mutex);
  if (log_fd >= 0) close(log_fd);
  log_fd = -1;
  log_wanted = false;
}

std::u16string log_format(std::u16string_view format, const LogArg* args, std::size_t count) {
  std::u16string out;
  out.reserve(format.size() + 32);
  std::size_t next_arg = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%') {
      out.push_back(format[i]);
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == u'%') {
      out.push_back(u'%');
      ++i;
      continue;
    }
    // Parse flags, width, precision and length, then the conversion letter.
    std::string directive = "%";
    std::size_t j = i + 1;
    auto take = [&](auto accept) {
      while (j < format.size() && accept(format[j]))
        directive.push_back(static_cast<char>(format[j++]));
    };
    take([](char16_t c) { return c == u'-' || c == u'+' || c == u' ' || c == u'#' || c == u'0'; });
    take([](char16_t c) { return c >= u'0' && c <= u'9'; });
    long precision = -1;
    if (j < format.size() && format[j] == u'.') {
      directive.push_back('.');
      ++j;
      precision = 0;
      while (j < format.size() && format[j] >= u'0' && format[j] <= u'9') {
        precision = precision * 10 + (format[j] - u'0');
        directive.push_back(static_cast<char>(format[j++]));
      }
    }
    while (j < format.size() && (format[j] == u'h' || format[j] == u'l' || format[j] == u'z' ||
                                 format[j] == u'j' || format[j] == u't' || format[j] == u'L')) {
      ++j;
    }
    if (j >= format.size()) break;
    const char16_t conversion = format[j];
    i = j;
    if (next_arg >= count) continue;
    const LogArg& arg = args[next_arg++];
    if (conversion == u's') {
      std::u16string text;
      if (auto wide = std::get_if<std::u16string_view>(&arg))
        text = *wide;
      else if (auto narrow = std::get_if<std::string_view>(&arg))
        text = *utf8_to_wide(*narrow);
      if (precision >= 0 && text.size() > static_cast<std::size_t>(precision)) {
        text.resize(static_cast<std::size_t>(precision));
      }
      // Width pads with blanks, on the left unless '-' is given.
      long width = 0;
      bool left = false;
      for (char c : directive.substr(1)) {
        if (c == '.') break;
        if (c == '-')
          left = true;
        else if (c >= '0' && c <= '9')
          width = width * 10 + (c - '0');
      }
      const std::size_t pad = width > static_cast<long>(text.size())
                                  ? static_cast<std::size_t>(width) - text.size()
                                  : 0;
      if (!left) out.append(pad, u' ');
      append_escaped(out, text);
      if (left) out.append(pad, u' ');
      continue;
    }
    const std::string number = format_number(directive, static_cast<char>(conversion), arg);
    out.append(number.begin(), number.end());
  }
  return out;
}

void log_write_line(std::u16string_view message) {
  const std::string text = *wide_to_utf8(message);
  const std::tm t = local_now();
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "[%02d:%02d:%02d] ", t.tm_hour, t.tm_min, t.tm_sec);
  std::lock_guard lock(log_mutex);
  if (!log_wanted) return;
  reopen_if_replaced();
  rotate_if_full();
  if (lost_lines > 0) {
    const std::string notice = std::string(prefix) + "[log] " + std::to_string(lost_lines) +
                               " log lines could not be written\n";
    if (write_whole(notice)) lost_lines = 0;
  }
  if (!write_whole(prefix + text + "\n")) ++lost_lines;
}
