// One desktop notification at a time, shown and updated through libnotify on the UI thread.
#include "platform/desktop_notification.h"

#include <glib.h>
#include <libnotify/notify.h>

#include "core/log.h"

namespace {

// The icon and the menu entry the notification server shows it under.
constexpr const char* APP_ICON = "telvana-print";
constexpr const char* DESKTOP_ENTRY = "telvana-print";

struct Shown {
  NotifyNotification* notification = nullptr;  // owned; null while none is shown
  DesktopNotificationHandlers handlers{};
};
Shown shown;  // UI thread only

// Gives up the notification object (it is off the screen, or is being taken off).
NotifyNotification* release_shown() {
  NotifyNotification* notification = shown.notification;
  shown.notification = nullptr;
  return notification;
}

void on_default_action(NotifyNotification* notification, char*, gpointer) {
  if (notification != shown.notification) return;
  const char* token = notify_notification_get_activation_token(notification);
  const DesktopNotificationHandlers handlers = shown.handlers;
  // libnotify holds its own reference while this runs.
  g_object_unref(release_shown());
  handlers.clicked(token != nullptr ? std::optional<std::string>(token) : std::nullopt);
}

void on_closed(NotifyNotification* notification, gpointer) {
  if (notification != shown.notification) return;
  const DesktopNotificationHandlers handlers = shown.handlers;
  g_object_unref(release_shown());
  handlers.closed();
}

}  // namespace

bool show_desktop_notification(const std::string& summary, const std::string& body,
                               DesktopNotificationHandlers handlers) {
  if (!notify_is_initted()) notify_init(g_get_application_name());
  if (shown.notification == nullptr) {
    shown.notification = notify_notification_new(summary.c_str(), body.c_str(), APP_ICON);
    notify_notification_set_hint_string(shown.notification, "desktop-entry", DESKTOP_ENTRY);
    // "default" is the click on the notification itself; servers show no button for it.
    notify_notification_add_action(shown.notification, "default", "Show", on_default_action,
                                   nullptr, nullptr);
    g_signal_connect(shown.notification, "closed", G_CALLBACK(on_closed), nullptr);
  } else {
    notify_notification_update(shown.notification, summary.c_str(), body.c_str(), APP_ICON);
  }
  shown.handlers = handlers;
  GError* error = nullptr;
  if (notify_notification_show(shown.notification, &error)) return true;
  log_printf(u"[notification] No desktop notification could be shown: %s",
             std::string(error->message));
  g_error_free(error);
  g_object_unref(release_shown());
  return false;
}

void withdraw_desktop_notification() {
  NotifyNotification* notification = release_shown();
  if (notification == nullptr) return;
  // A server that has already let it go answers with an error, which changes nothing.
  notify_notification_close(notification, nullptr);
  g_object_unref(notification);
}
