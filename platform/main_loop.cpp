// The message loop on the GLib default main context.
#include "platform/main_loop.h"

#include <glib.h>

#include "platform/message_box.h"
#include "platform/ui_thread.h"

namespace {

GMainLoop* main_loop = nullptr;  // UI thread only
int quit_code = 0;
void (*shutdown_step)() = nullptr;  // set once at start-up

void quit_on_ui_thread(int code) {
  quit_code = code;
  // A box on screen runs a loop of its own inside the main loop; the main loop ends only after it.
  close_message_boxes();
  if (main_loop != nullptr) g_main_loop_quit(main_loop);
}

void shut_down_on_ui_thread() {
  if (shutdown_step != nullptr) shutdown_step();
  quit_on_ui_thread(0);
}

}  // namespace

int run_main_loop() {
  main_loop = g_main_loop_new(g_main_context_default(), FALSE);
  g_main_loop_run(main_loop);
  g_main_loop_unref(main_loop);
  main_loop = nullptr;
  return quit_code;
}

void quit_main_loop(int code) {
  post_to_ui_thread([code] { quit_on_ui_thread(code); });
}

void set_shutdown_step(void (*step)()) {
  shutdown_step = step;
}

void request_shutdown() {
  post_to_ui_thread(shut_down_on_ui_thread);
}
