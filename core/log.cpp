// The log file: open, header, rotation, and thread-safe line writing.
#include "core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "core/folder_listing.h"
#include "core/text.h"

namespace {

std::mutex log_mutex;  // guards every write and the rotation
FILE* log_stream = nullptr;
std::string log_path;
bool rotation_enabled = true;

// Opens the log path for appending; null on failure. A symbolic link in its place is not
// followed, and the open never waits (a FIFO that nobody reads fails at once).
FILE* open_log_stream(const std::string& path) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) return nullptr;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* stream = fdopen(fd, "a");
  if (stream == nullptr) {
    close(fd);
    return nullptr;
  }
  // An append stream reports position 0 until its first write; the rotation test needs the size.
  std::fseek(stream, 0, SEEK_END);
  return stream;
}

// Points every other descriptor of this process that still writes the rotated file (the
// printer framework's own log handle) at the new file, so its lines follow the rotation.
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

// Moves a full log to "<path>.1" and opens a fresh one; the caller holds log_mutex.
void rotate_if_full() {
  if (!rotation_enabled) return;
  const long position = std::ftell(log_stream);
  if (position < LOG_ROTATE_SIZE) return;
  struct stat old_info {};
  const bool have_old = fstat(fileno(log_stream), &old_info) == 0;
  std::fclose(log_stream);
  log_stream = nullptr;
  const std::string rotated = log_path + ".1";
  unlink(rotated.c_str());
  rename(log_path.c_str(), rotated.c_str());
  log_stream = open_log_stream(log_path);
  if (log_stream != nullptr && have_old) {
    redirect_other_handles(old_info.st_dev, old_info.st_ino, fileno(log_stream));
  }
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
  if (log_stream != nullptr) std::fclose(log_stream);
  log_path = path_utf8;
  log_stream = open_log_stream(log_path);
  return log_stream != nullptr;
}

void log_write_header() {
  std::lock_guard lock(log_mutex);
  if (log_stream == nullptr) return;
  const std::tm t = local_now();
  std::fprintf(log_stream, "\n--- Telvana Print-to-Fax started %04d-%02d-%02d %02d:%02d:%02d ---\n",
               t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  std::fflush(log_stream);
}

void log_close() {
  std::lock_guard lock(log_mutex);
  if (log_stream != nullptr) std::fclose(log_stream);
  log_stream = nullptr;
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
  std::lock_guard lock(log_mutex);
  if (log_stream == nullptr) return;
  rotate_if_full();
  if (log_stream == nullptr) return;
  const std::tm t = local_now();
  std::fprintf(log_stream, "[%02d:%02d:%02d] ", t.tm_hour, t.tm_min, t.tm_sec);
  std::fwrite(text.data(), 1, text.size(), log_stream);
  std::fputc('\n', log_stream);
  std::fflush(log_stream);
}
