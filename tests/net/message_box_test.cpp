// The warning box of a refused upload: shown on the UI thread while the asking worker waits.
#include "platform/message_box.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/text.h"
#include "platform/ui_thread.h"
#include "tests/support/display_guard.h"
#include "tests/support/ui_loop.h"

namespace {

std::atomic<bool> caller_returned{false};
std::atomic<bool> seen_caller_waiting{false};
std::atomic<bool> seen_on_ui_thread{false};
std::u16string seen_text;

void answering_hook(std::u16string_view text, std::u16string_view, MessageBoxIcon) {
  seen_text = text;
  seen_on_ui_thread = on_ui_thread();
  seen_caller_waiting = !caller_returned;
}

TEST(MessageBoxTest, WorkerWaitsWhileTheUiThreadShowsTheBox) {
  set_ui_thread();
  set_message_box_hook(answering_hook);
  caller_returned = false;
  std::thread worker([] {
    show_message_box(u"The file \u201Ca.pdf\u201D is too large", u"File cannot be faxed",
                     MessageBoxIcon::warning);
    caller_returned = true;
  });
  EXPECT_TRUE(pump_until([] { return caller_returned.load(); }));
  worker.join();
  set_message_box_hook(nullptr);
  EXPECT_EQ(seen_text, u"The file \u201Ca.pdf\u201D is too large");
  EXPECT_TRUE(seen_on_ui_thread);
  EXPECT_TRUE(seen_caller_waiting);
}

// The open message dialog, if one is shown.
GtkMessageDialog* shown_dialog() {
  GList* windows = gtk_window_list_toplevels();
  GtkMessageDialog* found = nullptr;
  for (GList* item = windows; item; item = item->next) {
    if (GTK_IS_MESSAGE_DIALOG(item->data) && gtk_widget_get_visible(GTK_WIDGET(item->data))) {
      found = GTK_MESSAGE_DIALOG(item->data);
    }
  }
  g_list_free(windows);
  return found;
}

// What the dialog showed when it was found, before it was answered.
struct SeenDialog {
  bool found = false;
  std::string title;
  std::string text;
  GtkMessageType type = GTK_MESSAGE_OTHER;
  bool modal = false;
  bool caller_waiting = false;
};

// Runs inside the dialog's own loop: reads the open dialog and presses OK, as a user would.
gboolean answer_dialog(gpointer data) {
  GtkMessageDialog* dialog = shown_dialog();
  if (dialog == nullptr) return G_SOURCE_CONTINUE;
  auto* seen = static_cast<SeenDialog*>(data);
  seen->found = true;
  seen->title = gtk_window_get_title(GTK_WINDOW(dialog));
  gchar* text = nullptr;
  g_object_get(dialog, "text", &text, "message-type", &seen->type, nullptr);
  seen->text = text ? text : "";
  g_free(text);
  seen->modal = gtk_window_get_modal(GTK_WINDOW(dialog));
  seen->caller_waiting = !caller_returned;
  gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  return G_SOURCE_REMOVE;
}

TEST(MessageBoxTest, RealDialogShowsTextsAndClosesOnOk) {
  SKIP_WITHOUT_DISPLAY();
  if (!gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "the display cannot be opened";
  set_ui_thread();
  set_message_box_hook(nullptr);
  caller_returned = false;
  SeenDialog seen;
  const guint answerer = g_timeout_add(10, answer_dialog, &seen);
  std::thread worker([] {
    show_message_box(u"The file \u201C\u00e9t\u00e9.pdf\u201D is too large to fax (200 MB).",
                     u"File cannot be faxed", MessageBoxIcon::warning);
    caller_returned = true;
  });
  const bool returned = pump_until([] { return caller_returned.load(); });
  if (!seen.found) g_source_remove(answerer);
  ASSERT_TRUE(returned);
  worker.join();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.title, "File cannot be faxed");
  EXPECT_EQ(seen.text, "The file \u201C\u00e9t\u00e9.pdf\u201D is too large to fax (200 MB).");
  EXPECT_EQ(seen.type, GTK_MESSAGE_WARNING);
  EXPECT_TRUE(seen.modal);
  EXPECT_TRUE(seen.caller_waiting) << "the worker must wait until the box is closed";
  pump_until([] { return shown_dialog() == nullptr; });
  EXPECT_EQ(shown_dialog(), nullptr);
}

}  // namespace
