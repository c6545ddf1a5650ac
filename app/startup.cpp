// Start-up in its fixed order, the message loop, and shutdown.
#include "app/startup.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/callback_handoff.h"
#include "app/command_line.h"
#include "app/crash_reporter.h"
#include "app/handoff_listener.h"
#include "app/port_notice.h"
#include "app/quit_signals.h"
#include "app/single_instance.h"
#include "app/url_scheme.h"
#include "bridge/web_view_host.h"
#include "core/config.h"
#include "core/folders.h"
#include "core/log.h"
#include "core/text.h"
#include "net/http_client.h"
#include "platform/main_loop.h"
#include "platform/ui_thread.h"
#include "printer/printer_system.h"
#include "printer/spool_folder.h"
#include "window/host_window.h"
#include "window/window_system.h"

int run_application(int argc, char** argv) {
  block_quit_signals();
  set_ui_thread();
  const std::string command_line = join_command_line(argc, argv);

  // Configuration: hidden flag, framework environment, folders, version.
  AppConfig config;
  config.hidden = command_line_hidden(command_line);
  setenv("PAPPL_NO_STATUS_UI", "1", 1);
  config.ui_folder = folder_path(executable_folder() + "/ui");
  // Resolved here once; everything else reads it from app_config().
  config.output_folder = folder_path(resolve_output_folder());
  config.app_version = format_app_version(compiled_app_version());
  set_app_config(config);
  const std::string& output_folder = app_config().output_folder.utf8;
  // A fresh account may not have the folders above it yet; without them there is no log.
  create_folder_with_parents(output_folder);

  // Log file and crash reporter.
  const std::string log_path = output_folder + "/telvana-print.log";
  // Rotation belongs to the instance that keeps writing: not before this start is known to be it.
  log_set_rotation(false);
  if (log_open(log_path)) log_write_header();

  // Every environment variable the program sets is set here, before any thread exists: setenv
  // races with threads reading the environment. The printer framework reads its log settings
  // and, through its spool folder, where it keeps its socket.
  setenv("TELVANA_LOG_FILE", log_path.c_str(), 1);
  setenv("TELVANA_LOG_LEVEL", "warn", 1);
  const auto spool_folder = create_spool_folder(output_folder);
  if (spool_folder) {
    use_printer_spool_folder(*spool_folder);
  } else {
    log_printf(u"[printer] Cannot create a private spool folder: %s; the printer does not start.",
               strerror(errno));
  }

  const std::string release = "telvana-printer@" + *wide_to_utf8(config.app_version);
  crash_reporter_init(release, output_folder);
  log_printf(u"[Sentry] Initialized. release=telvana-printer@%s", config.app_version);

  // A second instance hands its command line over and ends before any of the steps below.
  if (!claim_first_instance_or_hand_over(command_line)) {
    if (spool_folder) remove_spool_folder(*spool_folder);
    return 0;
  }
  log_set_rotation(true);
  http_client_init();

  log_printf(u"Starting. ui=%s out=%s", config.ui_folder.wide, config.output_folder.wide);

  register_url_scheme();

  // Without a display the program cannot be used: it says so and ends before the printer starts.
  if (!init_window_system()) {
    if (spool_folder) remove_spool_folder(*spool_folder);
    crash_reporter_close();
    release_instance_lock();
    return 1;
  }

  set_shutdown_step(stop_printer_system);
  install_port_notice();
  std::thread(printer_thread).detach();
  start_quit_signal_thread();
  create_host_window(!config.hidden);
  watch_window_for_port_notice();
  // Second starts reach the window from now on; a callback URL this start was launched with goes
  // to the page the same way, once the page has loaded.
  start_callback_listener();
  deliver_command_line_callback(command_line);

  // The page's view is created on the UI loop inside the window; a failure ends the loop with 1.
  // Without a window there is nothing to create it in, and the program runs on without it.
  if (host_window() != nullptr) start_web_view_creation(output_folder + "/WebView2");

  const int exit_code = run_main_loop();

  stop_printer_system();
  crash_reporter_close();
  stop_handoff_listener();
  release_instance_lock();
  return exit_code;
}
