// The program's desktop notification (org.freedesktop.Notifications, through libnotify).
#pragma once

#include <optional>
#include <string>

// What the user did with the notification. clicked gets the activation token the notification
// server gave with the click, if any; closed runs when it went away unclicked.
struct DesktopNotificationHandlers {
  void (*clicked)(const std::optional<std::string>& activation_token);
  void (*closed)();
};

// Shows the notification, or replaces the texts of the one still shown: there is at most one.
// False (and a log line) when no notification server takes it. UI thread.
bool show_desktop_notification(const std::string& summary, const std::string& body,
                               DesktopNotificationHandlers handlers);

// Takes the notification off the screen, if one is shown; its handlers do not run. UI thread.
void withdraw_desktop_notification();
