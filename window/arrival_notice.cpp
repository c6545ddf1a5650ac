// The desktop notification of documents printed while the window was out of the user's sight.
#include "window/arrival_notice.h"

#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "core/log.h"
#include "core/text.h"
#include "platform/desktop_notification.h"
#include "window/host_window.h"

namespace {

struct Arrivals {
  int count = 0;          // documents printed out of sight and not yet seen by the user
  int announced = 0;      // how many of them the notification on screen counts
  std::string latest;     // the latest one's file name
  guint wait = 0;         // the wait for the window to come forward, while it runs
  bool watching = false;  // the window's focus is followed
};
Arrivals arrivals;  // UI thread only

void forget_arrivals() {
  if (arrivals.wait != 0) g_source_remove(arrivals.wait);
  arrivals.count = arrivals.announced = 0;
  arrivals.wait = 0;
}

// The user has seen the notification: what it counted is no longer news.
void acknowledge() {
  arrivals.count -= arrivals.announced;
  arrivals.announced = 0;
}

void on_notification_clicked(const std::optional<std::string>& activation_token) {
  log_printf(u"[window] The notification was clicked%s; bringing the window forward",
             std::string(activation_token ? "" : " (no activation token)"));
  acknowledge();
  bring_host_window_to_front(activation_token);
}

gboolean on_wait_over(gpointer) {
  arrivals.wait = 0;
  if (arrivals.count == 0 || host_window_is_active()) return G_SOURCE_REMOVE;
  const std::string summary = "Printed: " + arrivals.latest;
  const std::string body = arrivals.count == 1
                               ? std::string("Ready to fax.")
                               : std::to_string(arrivals.count) + " documents are ready to fax.";
  log_printf(u"[window] %s is out of sight; a desktop notification tells of it", arrivals.latest);
  if (show_desktop_notification(summary, body, {on_notification_clicked, acknowledge})) {
    arrivals.announced = arrivals.count;
  } else {
    forget_arrivals();
  }
  return G_SOURCE_REMOVE;
}

// In front, the window shows every document itself.
void on_active_changed(GObject*, GParamSpec*, gpointer) {
  if (!host_window_is_active()) return;
  forget_arrivals();
  withdraw_desktop_notification();
}

}  // namespace

void notice_printed_document(std::u16string_view path) {
  GtkWindow* window = host_window();
  if (window == nullptr || host_window_is_active()) return;
  if (!arrivals.watching) {
    g_signal_connect(window, "notify::is-active", G_CALLBACK(on_active_changed), nullptr);
    arrivals.watching = true;
  }
  arrivals.latest = *wide_to_utf8(path.substr(path.rfind(u'/') + 1));
  ++arrivals.count;
  if (arrivals.wait == 0) {
    arrivals.wait =
        g_timeout_add(static_cast<guint>(ARRIVAL_NOTICE_DELAY.count()), on_wait_over, nullptr);
  }
}
