// The printer thread: the framework's main loop with the one fax printer, and its prompt stop.
#include "printer/printer_system.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>

#include "core/config.h"
#include "printer/dns_sd_announcement.h"
#include "printer/fax_driver.h"
#include "printer/file_uri.h"
#include "printer/job_file.h"
#include "printer/job_output.h"
#include "printer/pappl_document_read_fault.h"
#include "printer/pappl_job_thread_fault.h"
#include "printer/printer_name.h"
#include "printer/spool_folder.h"
#include "printer/system_setup.h"

namespace {

constexpr const char* MAINLOOP_VERSION = "1.0";
constexpr const char* MAINLOOP_FOOTER =
    "Telvana Print-to-Fax. Documents are saved to the output folder.";
char CALLBACK_DATA[] = "telvana";

// How long stop_printer_system() waits for the main loop to end.
constexpr auto STOP_WAIT = std::chrono::seconds(3);

// Whether the main loop runs, and whether a stop was asked for.
struct LoopState {
  std::mutex mutex;
  std::condition_variable ended;
  bool started = false;
  bool finished = false;
  bool stop_requested = false;
};

LoopState& loop_state() {
  static LoopState state;
  return state;
}

// The run's private spool folder; empty until use_printer_spool_folder().
std::string spool_folder;

}  // namespace

void use_printer_spool_folder(const std::string& folder) {
  spool_folder = folder;
  watch_spool_writes_in(folder);
  // PAPPL 1.3.1 puts the main loop's local socket, which grants every client administration
  // (_papplClientIsAuthorizedForGroup allows any AF_LOCAL peer), into papplGetTempDir() (from
  // TMPDIR, read once and kept) for a user and into /run or $SNAP_COMMON for root, with mode
  // 0777. Both are pointed at the private spool folder so that only this user can reach it; the
  // rest of the process keeps its own TMPDIR. This can go once the framework creates that socket
  // with owner-only access.
  const char* old_tmpdir = std::getenv("TMPDIR");
  const std::string saved_tmpdir = old_tmpdir ? old_tmpdir : "";
  setenv("TMPDIR", folder.c_str(), 1);
  papplGetTempDir();
  if (old_tmpdir) {
    setenv("TMPDIR", saved_tmpdir.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  if (getuid() == 0) setenv("SNAP_COMMON", folder.c_str(), 1);
}

const std::string& printer_spool_folder() {
  return spool_folder;
}

bool printer_stop_requested() {
  LoopState& state = loop_state();
  std::lock_guard lock(state.mutex);
  return state.stop_requested;
}

void printer_thread() {
  LoopState& state = loop_state();
  {
    std::lock_guard lock(state.mutex);
    if (state.stop_requested) return;
    state.started = true;
  }
  // Our "file" device must be known before the framework registers its own.
  register_output_device();
  route_quit_signals_to_waiter();

  std::string name_arg = PRINTER_NAME;
  char server_arg[] = "server";
  char* argv[] = {name_arg.data(), server_arg, nullptr};
  papplMainloop(2, argv, MAINLOOP_VERSION, MAINLOOP_FOOTER, 1, fax_drivers, nullptr,
                fax_driver_callback, nullptr, nullptr, create_printer_system, nullptr,
                CALLBACK_DATA);
  stop_dns_sd_announcement();
  // The spool folder holds the framework's socket and any document left; neither outlives a run.
  if (!spool_folder.empty()) remove_spool_folder(spool_folder);

  {
    std::lock_guard lock(state.mutex);
    state.finished = true;
  }
  state.ended.notify_all();
}

void stop_printer_system() {
  LoopState& state = loop_state();
  std::unique_lock lock(state.mutex);
  state.stop_requested = true;
  if (!state.started || state.finished) return;
  lock.unlock();
  // Print dialogs stop offering the printer before it stops taking jobs.
  stop_dns_sd_announcement();
  papplMainloopShutdown();
  lock.lock();
  state.ended.wait_for(lock, STOP_WAIT, [&] { return state.finished; });
  lock.unlock();
  // An unprinted job's document still being saved is part of what was printed.
  wait_for_unprinted_job_saves(STOP_WAIT);
}
