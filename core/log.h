// The application log file: one shared, append-only, size-rotated file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

// Rotation threshold: a log that has reached this size moves to "<path>.1".
inline constexpr long LOG_ROTATE_SIZE = 3145728;

// Opens (creating) the log at path for appending; returns false when it cannot be opened,
// in which case logging stays off. Once open, a log file removed or moved away from path is
// reopened there with the next line.
bool log_open(const std::string& path_utf8);

// Whether a full log is rotated (the default). A second start, which only hands its command
// line over, turns it off so that it never moves the running instance's log.
void log_set_rotation(bool enabled);

// Writes the start-up header ("\n--- Telvana Print-to-Fax started ... ---\n") and flushes.
void log_write_header();

// Closes the log; later log_printf calls do nothing. Used by tests.
void log_close();

// One argument of a log line, as the formatter sees it.
using LogArg = std::variant<long long, unsigned long long, double, std::u16string_view,
                            std::string_view, const void*>;

// Formats one log message. format is a printf format in UTF-16 whose %s takes either a UTF-16
// or a UTF-8 string; precision on %s counts UTF-16 units (before escaping). Control characters
// in %s values are written escaped (\n, \r, \t, \xHH, \uHHHH). Unmatched conversions print
// nothing.
std::u16string log_format(std::u16string_view format, const LogArg* args, std::size_t count);

// Appends one line: "[HH:MM:SS] " + message + "\n", as UTF-8 with one write. Lines that cannot
// be written are counted, and "[log] N log lines could not be written" precedes the next line
// that can.
void log_write_line(std::u16string_view message);

namespace log_detail {
template <class T>
LogArg to_log_arg(const T& value) {
  using D = std::decay_t<T>;
  if constexpr (std::is_same_v<D, std::u16string> || std::is_same_v<D, std::u16string_view>) {
    return std::u16string_view(value);
  } else if constexpr (std::is_same_v<D, const char16_t*> || std::is_same_v<D, char16_t*>) {
    return value ? std::u16string_view(value) : std::u16string_view(u"(null)");
  } else if constexpr (std::is_same_v<D, std::string> || std::is_same_v<D, std::string_view>) {
    return std::string_view(value);
  } else if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*>) {
    return value ? std::string_view(value) : std::string_view("(null)");
  } else if constexpr (std::is_floating_point_v<D>) {
    return static_cast<double>(value);
  } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
    return static_cast<long long>(value);
  } else if constexpr (std::is_integral_v<D> || std::is_enum_v<D>) {
    return static_cast<unsigned long long>(value);
  } else {
    static_assert(std::is_pointer_v<D>, "unsupported log_printf argument");
    return static_cast<const void*>(value);
  }
}
}  // namespace log_detail

// Appends one timestamped line to the log; safe from any thread; does nothing while the log
// is closed. Example: log_printf(u"[scheme] Registered telvanaprinter:// -> %s", command);
template <class... Args>
void log_printf(std::u16string_view format, const Args&... args) {
  const LogArg list[] = {log_detail::to_log_arg(args)..., LogArg(0LL)};
  log_write_line(log_format(format, list, sizeof...(Args)));
}
