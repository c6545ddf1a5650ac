// Posting to the UI thread through the GLib default main context.
#include "platform/ui_thread.h"

#include <glib.h>

#include <atomic>
#include <thread>

namespace {

std::atomic<std::thread::id> ui_thread_id{};

gboolean run_task(gpointer task) {
  static_cast<ui_thread_queue::Task*>(task)->run();
  return G_SOURCE_REMOVE;
}

// GLib calls it when the source goes: after the run, or unrun with its context.
void free_task(gpointer task) {
  delete static_cast<ui_thread_queue::Task*>(task);
}

}  // namespace

void ui_thread_queue::queue_task(std::unique_ptr<Task> task) {
  // An idle source of one priority runs in attach order, so one poster's order is kept; unlike
  // g_main_context_invoke it never runs the task inside the caller on the UI thread.
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, run_task, task.release(), free_task);
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

void set_ui_thread() {
  ui_thread_id = std::this_thread::get_id();
}

bool on_ui_thread() {
  return ui_thread_id.load() == std::this_thread::get_id();
}
