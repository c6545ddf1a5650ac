// Work-around for PAPPL 1.3.1's log: its write_log() escapes the "%s" values of a line in a way
// of its own (octal, and only bytes below 0x20 and DEL), so C1 controls such as NEL and CSI in a
// job name or a request reach the log file as they are, and a "%c" value is never escaped; the
// program's own lines escape every control character (log_format).
//
// papplLog(), papplLogClient(), papplLogJob() and papplLogPrinter() are defined here, so that the
// framework's own calls of them (through its procedure linkage table) and the program's reach
// these first (a definition in the program comes before the one in the shared library). Each
// formats its message with the program's formatter and hands the finished text to the
// framework's function as a format without conversions; the framework adds the level, the time
// and its "[Client n]", "[Job n]" or "[Printer name]" prefix and writes the line as before.
// This file can go once the framework escapes every control character of a logged value, or lets
// the program format its lines (a log callback).
#include "printer/pappl_log_escaping.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <vector>

#include "core/log.h"
#include "core/text.h"

namespace {

std::atomic<int> framework_level{PAPPL_LOGLEVEL_DEBUG};

template <class Function>
Function library_function(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool one_of(char c, const char* set) {
  return c != '\0' && std::strchr(set, c) != nullptr;
}

// A signed or unsigned integer argument of the given length modifier.
LogArg integer_argument(const std::string& length, bool is_signed, va_list& arguments) {
  if (length == "ll" || length == "q" || length == "j") {
    return is_signed
               ? LogArg(static_cast<long long>(va_arg(arguments, long long)))
               : LogArg(static_cast<unsigned long long>(va_arg(arguments, unsigned long long)));
  }
  if (length == "l" || length == "z" || length == "t") {
    return is_signed ? LogArg(static_cast<long long>(va_arg(arguments, long)))
                     : LogArg(static_cast<unsigned long long>(va_arg(arguments, unsigned long)));
  }
  return is_signed ? LogArg(static_cast<long long>(va_arg(arguments, int)))
                   : LogArg(static_cast<unsigned long long>(va_arg(arguments, unsigned int)));
}

// Writes one message through the framework's own function of that name, prefix and all. Without
// an object the framework writes warnings and worse to standard error whatever its level.
template <class Object>
void forward(const char* name, Object* object, pappl_loglevel_t level, const char* message,
             va_list arguments) {
  using Function = void (*)(Object*, pappl_loglevel_t, const char*, ...);
  if (message == nullptr) return;
  if (object != nullptr && level < framework_level.load(std::memory_order_relaxed)) return;
  static const auto next = library_function<Function>(name);
  const std::string text = framework_log_text(message, arguments);
  next(object, level, text.c_str());
}

}  // namespace

void set_framework_log_level(pappl_loglevel_t level) {
  framework_level.store(level);
}

std::string framework_log_text(const char* message, va_list arguments) {
  va_list ap;
  va_copy(ap, arguments);
  std::string format;
  std::vector<LogArg> values;
  // One-character texts that "%c" values become, so that they are escaped like "%s" values.
  std::deque<std::string> characters;
  for (const char* p = message; *p != '\0';) {
    if (*p != '%') {
      format.push_back(*p++);
      continue;
    }
    std::string directive = "%";
    ++p;
    if (*p == '%') {
      format += "%%";
      ++p;
      continue;
    }
    while (one_of(*p, "-+ #0")) directive.push_back(*p++);
    if (*p == '*') {
      directive += std::to_string(va_arg(ap, int));
      ++p;
    }
    while (*p >= '0' && *p <= '9') directive.push_back(*p++);
    if (*p == '.') {
      directive.push_back(*p++);
      if (*p == '*') {
        directive += std::to_string(std::max(0, va_arg(ap, int)));
        ++p;
      }
      while (*p >= '0' && *p <= '9') directive.push_back(*p++);
    }
    std::string length;
    while (one_of(*p, "hlLqjzt")) length.push_back(*p++);
    const char conversion = *p;
    if (conversion == '\0') break;
    ++p;
    if (one_of(conversion, "di")) {
      values.push_back(integer_argument(length, true, ap));
    } else if (one_of(conversion, "uxXo")) {
      values.push_back(integer_argument(length, false, ap));
    } else if (one_of(conversion, "eEfFgG")) {
      values.push_back(length == "L" ? static_cast<double>(va_arg(ap, long double))
                                     : va_arg(ap, double));
    } else if (conversion == 'p') {
      values.push_back(static_cast<const void*>(va_arg(ap, void*)));
    } else if (conversion == 's') {
      const char* text = va_arg(ap, const char*);
      values.push_back(std::string_view(text != nullptr ? text : "(null)"));
    } else if (conversion == 'c') {
      characters.emplace_back(1, static_cast<char>(va_arg(ap, int)));
      values.push_back(std::string_view(characters.back()));
      format += directive + 's';
      continue;
    } else {
      // Not a conversion: written as it stands.
      format += "%" + directive + conversion;
      continue;
    }
    format += directive + conversion;
  }
  va_end(ap);
  const std::u16string line = log_format(*utf8_to_wide(format), values.data(), values.size());
  const std::string formatted = *wide_to_utf8(line);
  std::string text;
  for (const char c : formatted) {
    text.push_back(c);
    if (c == '%') text.push_back('%');
  }
  return text;
}

// The framework's four log functions differ only in what a line is about.
#define TELVANA_FORWARDED_LOG_FUNCTION(function, Object)                            \
  void function(Object* object, pappl_loglevel_t level, const char* message, ...) { \
    va_list arguments;                                                              \
    va_start(arguments, message);                                                   \
    forward(#function, object, level, message, arguments);                          \
    va_end(arguments);                                                              \
  }

TELVANA_FORWARDED_LOG_FUNCTION(papplLog, pappl_system_t)
TELVANA_FORWARDED_LOG_FUNCTION(papplLogClient, pappl_client_t)
TELVANA_FORWARDED_LOG_FUNCTION(papplLogJob, pappl_job_t)
TELVANA_FORWARDED_LOG_FUNCTION(papplLogPrinter, pappl_printer_t)

#undef TELVANA_FORWARDED_LOG_FUNCTION
