// Crash reporting. With sentry-native the library does the work; without it a small reporter
// of our own writes one text report per fatal signal, using only async-signal-safe calls.
#include "app/crash_reporter.h"

#ifdef TELVANA_WITH_SENTRY
#include <sentry.h>

// The maker's crash-report endpoint.
static constexpr const char* CRASH_REPORT_DSN =
    "https://crash-reports@crash.telvana.invalid/telvana-printer";

void crash_reporter_init(const std::string& release, const std::string&) {
  sentry_options_t* options = sentry_options_new();
  sentry_options_set_dsn(options, CRASH_REPORT_DSN);
  sentry_options_set_release(options, release.c_str());
  sentry_options_set_environment(options, "production");
  sentry_init(options);
}

void crash_reporter_close() { sentry_close(); }

#else

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

namespace {

constexpr int FATAL_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};

// Everything the handler needs is prepared up front, so it formats nothing but numbers.
char report_folder[4096];
char release_text[256];
bool installed = false;
alignas(16) char alternate_stack[64 * 1024];

// Writes a NUL-terminated text.
void write_text(int fd, const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  while (length > 0) {
    const ssize_t written = write(fd, text, length);
    if (written <= 0) return;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
}

// Formats an unsigned number in decimal into buffer (at least 21 bytes).
const char* decimal(unsigned long value, char* buffer) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = 0; i < count; ++i) buffer[i] = digits[count - 1 - i];
  buffer[count] = '\0';
  return buffer;
}

void on_fatal_signal(int signal_number, siginfo_t*, void*) {
  // One report per crash: <folder>/crash-<seconds>-<pid>.txt.
  char path[4200];
  char number[24];
  std::size_t used = 0;
  auto append = [&](const char* text) {
    while (*text != '\0' && used + 1 < sizeof path) path[used++] = *text++;
    path[used] = '\0';
  };
  append(report_folder);
  append("/crash-");
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  append(decimal(static_cast<unsigned long>(now.tv_sec), number));
  append("-");
  append(decimal(static_cast<unsigned long>(getpid()), number));
  append(".txt");

  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0) {
    write_text(fd, "release: ");
    write_text(fd, release_text);
    write_text(fd, "\nenvironment: production\nsignal: ");
    write_text(fd, decimal(static_cast<unsigned long>(signal_number), number));
    write_text(fd, " (");
    write_text(fd, sigabbrev_np(signal_number) ? sigabbrev_np(signal_number) : "?");
    write_text(fd, ")\npid: ");
    write_text(fd, decimal(static_cast<unsigned long>(getpid()), number));
    write_text(fd, "\nbacktrace:\n");
    void* frames[64];
    const int depth = backtrace(frames, 64);
    backtrace_symbols_fd(frames, depth, fd);
    close(fd);
  }

  // Let the process die as it would have without us.
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void copy_bounded(char* target, std::size_t size, const std::string& text) {
  const std::size_t length = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(target, text.data(), length);
  target[length] = '\0';
}

}  // namespace

void crash_reporter_init(const std::string& release, const std::string& output_folder) {
  const std::string folder = output_folder + "/crash-reports";
  mkdir(folder.c_str(), 0700);
  copy_bounded(report_folder, sizeof report_folder, folder);
  copy_bounded(release_text, sizeof release_text, release);

  // backtrace() loads its unwinder on first use, which is not safe inside a handler.
  void* warm_up[1];
  backtrace(warm_up, 1);

  stack_t stack{};
  stack.ss_sp = alternate_stack;
  stack.ss_size = sizeof alternate_stack;
  sigaltstack(&stack, nullptr);

  struct sigaction action {};
  action.sa_sigaction = on_fatal_signal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal_number : FATAL_SIGNALS) sigaction(signal_number, &action, nullptr);
  installed = true;
}

void crash_reporter_close() {
  if (!installed) return;
  for (int signal_number : FATAL_SIGNALS) signal(signal_number, SIG_DFL);
  installed = false;
}

#endif
