// The printer thread: the framework's main loop with the one fax printer, and its prompt stop.
#include "printer/printer_system.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "app/config.h"
#include "printer/dns_sd_announcement.h"
#include "printer/fax_driver.h"
#include "printer/file_uri.h"
#include "printer/job_file.h"
#include "printer/job_output.h"
#include "printer/quit_signal_routing.h"
#include "printer/skipped_jobs.h"
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

// Removes a folder the framework made for this run, with the files in it.
void remove_folder(const std::string& folder) {
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        unlinkat(dirfd(dir), entry->d_name, 0);
      }
    }
    closedir(dir);
  }
  rmdir(folder.c_str());
}

// The framework leaves its spool folder and its local socket behind; neither outlives a run.
void remove_run_files() {
  const std::string temp = papplGetTempDir();
  remove_folder(temp + "/pappl" + std::to_string(getpid()) + ".d");
  const uid_t uid = getuid();
  const std::string socket = uid != 0 ? temp + "/" + PRINTER_NAME + std::to_string(uid) + ".sock"
                                      : std::string("/run/") + PRINTER_NAME + ".sock";
  unlink(socket.c_str());
}

// Spool folders of earlier runs that were killed hold whole documents; a folder of ours whose
// process is gone is removed at start.
void remove_stale_spool_folders() {
  const std::string temp = papplGetTempDir();
  DIR* dir = opendir(temp.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    unsigned long pid = 0;
    int length = 0;
    if (std::sscanf(entry->d_name, "pappl%lu.d%n", &pid, &length) != 1 ||
        entry->d_name[length] != '\0' || pid == 0 || static_cast<pid_t>(pid) == getpid()) {
      continue;
    }
    const std::string folder = temp + "/" + entry->d_name;
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
      continue;
    }
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) remove_folder(folder);
  }
  closedir(dir);
}

}  // namespace

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
  remove_stale_spool_folders();
  // Our "file" device must be known before the framework registers its own.
  register_output_device();
  route_quit_signals_to_waiter();

  char name_arg[] = "Send as Fax (Telvana)";
  char server_arg[] = "server";
  char* argv[] = {name_arg, server_arg, nullptr};
  papplMainloop(2, argv, MAINLOOP_VERSION, MAINLOOP_FOOTER, 1, fax_drivers, nullptr,
                fax_driver_callback, nullptr, nullptr, create_printer_system, nullptr,
                CALLBACK_DATA);
  stop_dns_sd_announcement();
  remove_run_files();

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
  // A skipped job's document still being saved is part of what was printed.
  wait_for_skipped_job_saves(STOP_WAIT);
}
