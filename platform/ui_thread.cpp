// Posting to the UI thread through the GLib default main context.
#include "platform/ui_thread.h"

#include <glib.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

std::atomic<std::thread::id> ui_thread_id{};

struct PostedTask {
  UiTask task;
  void* record;
};

gboolean run_posted_task(gpointer data) {
  std::unique_ptr<PostedTask> posted(static_cast<PostedTask*>(data));
  posted->task(posted->record);
  return G_SOURCE_REMOVE;
}

}  // namespace

void post_to_ui_thread(UiTask task, void* record) {
  // An idle source of one priority runs in attach order, so one poster's order is kept; unlike
  // g_main_context_invoke it never runs the task inside the caller on the UI thread.
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, run_posted_task, new PostedTask{task, record}, nullptr);
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

void set_ui_thread() { ui_thread_id = std::this_thread::get_id(); }

bool on_ui_thread() { return ui_thread_id.load() == std::this_thread::get_id(); }
