// Modal message boxes as GTK message dialogs, always run on the UI thread.
#include "platform/message_box.h"

#include <gtk/gtk.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/text.h"
#include "platform/ui_thread.h"

namespace {

std::atomic<MessageBoxHook> message_box_hook{nullptr};

// The dialogs on screen, and whether the application is ending. UI thread only.
std::vector<GtkWidget*> open_dialogs;
bool boxes_closed = false;

// One box asked for by another thread, and the wait for its closing.
struct BoxRequest {
  std::u16string text;
  std::u16string caption;
  MessageBoxIcon icon;
  std::mutex mutex;
  std::condition_variable closed_signal;
  bool closed = false;
};

// Shows the box (or hands it to the hook) and returns when it is closed. UI thread only.
void run_box(std::u16string_view text, std::u16string_view caption, MessageBoxIcon icon) {
  if (const MessageBoxHook hook = message_box_hook.load()) {
    hook(text, caption, icon);
    return;
  }
  if (boxes_closed) return;
  if (gdk_display_get_default() == nullptr) {
    log_printf(u"[MessageBox] No display for \"%s\": %s", caption, text);
    return;
  }
  const std::string message = *wide_to_utf8(text);
  GtkWidget* dialog = gtk_message_dialog_new(
      nullptr, GTK_DIALOG_MODAL,
      icon == MessageBoxIcon::warning ? GTK_MESSAGE_WARNING : GTK_MESSAGE_ERROR, GTK_BUTTONS_OK,
      "%s", message.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), wide_to_utf8(caption)->c_str());
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_window_present(GTK_WINDOW(dialog));
  open_dialogs.push_back(dialog);
  gtk_dialog_run(GTK_DIALOG(dialog));
  std::erase(open_dialogs, dialog);
  gtk_widget_destroy(dialog);
}

// The UI-thread side of a box asked for by another thread; wakes the asker when it closes.
void run_awaited_box(BoxRequest& request) {
  run_box(request.text, request.caption, request.icon);
  {
    std::lock_guard<std::mutex> lock(request.mutex);
    request.closed = true;
  }
  request.closed_signal.notify_all();
}

}  // namespace

void post_message_box(std::u16string_view text, std::u16string_view caption, MessageBoxIcon icon) {
  post_to_ui_thread([text = std::u16string(text), caption = std::u16string(caption), icon] {
    run_box(text, caption, icon);
  });
}

void show_message_box(std::u16string_view text, std::u16string_view caption, MessageBoxIcon icon) {
  if (on_ui_thread()) {
    run_box(text, caption, icon);
    return;
  }
  auto request = std::make_shared<BoxRequest>();
  request->text = text;
  request->caption = caption;
  request->icon = icon;
  post_to_ui_thread([request] { run_awaited_box(*request); });
  std::unique_lock<std::mutex> lock(request->mutex);
  request->closed_signal.wait(lock, [&] { return request->closed; });
}

void close_message_boxes() {
  boxes_closed = true;
  for (GtkWidget* dialog : open_dialogs) gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
}

void set_message_box_hook(MessageBoxHook hook) {
  message_box_hook.store(hook);
}
