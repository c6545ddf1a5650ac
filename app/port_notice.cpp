// The port-in-use message box: asked for by the printer thread, shown on the UI thread once the
// window is on screen.
#include "app/port_notice.h"

#include <gtk/gtk.h>

#include <string>

#include "core/text.h"
#include "platform/message_box.h"
#include "platform/ui_thread.h"
#include "printer/printer_name.h"
#include "printer/system_setup.h"
#include "window/host_window.h"

namespace {

// UI thread only.
bool notice_pending = false;
bool notice_shown = false;

// Shows the box when it is due and the window is on screen. UI thread.
void show_notice_if_due() {
  GtkWindow* window = host_window();
  if (!notice_pending || notice_shown || window == nullptr ||
      !gtk_widget_get_mapped(GTK_WIDGET(window))) {
    return;
  }
  notice_shown = true;
  const std::string name = PRINTER_NAME;
  show_message_box(
      *utf8_to_wide(name + " could not start its printer: port " +
                    std::to_string(PRINTER_IPP_PORT) + " is in use by another program."),
      *utf8_to_wide(name), MessageBoxIcon::warning);
}

void mark_notice_pending() {
  notice_pending = true;
  show_notice_if_due();
}

// Printer thread: the rest happens on the UI thread.
void report_port_unavailable() {
  post_to_ui_thread(mark_notice_pending);
}

// The box runs a loop of its own, so it is not shown from inside the window's signal.
void on_window_mapped(GtkWidget* widget, gpointer data) {
  (void)widget;
  (void)data;
  post_to_ui_thread(show_notice_if_due);
}

}  // namespace

void install_port_notice() {
  set_port_unavailable_handler(report_port_unavailable);
}

void watch_window_for_port_notice() {
  if (GtkWindow* window = host_window()) {
    g_signal_connect(window, "map", G_CALLBACK(on_window_mapped), nullptr);
  }
}
