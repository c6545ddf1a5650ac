// Opening the display for the window, and noticing when it goes away.
#include "window/window_system.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/log.h"
#include "platform/main_loop.h"

namespace {

bool display_lost = false;  // UI thread only

void report_display_lost() {
  if (display_lost) return;
  display_lost = true;
  log_printf(u"[window] The display connection closed; shutting down");
  request_shutdown();
}

// GTK's own handler ends the process at once with code 1; the printer is stopped and the
// process ends through the normal shutdown instead.
int on_x_io_error(Display*) {
  return 0;
}

void on_x_io_error_exit(Display*, void*) {
  report_display_lost();
}

void on_display_closed(GdkDisplay*, gboolean, gpointer) {
  report_display_lost();
}

}  // namespace

bool init_window_system() {
  g_set_prgname(WINDOW_CLASS);
  g_set_application_name(WINDOW_TITLE);
  // X11 first, wherever an X server runs (Xorg, or XWayland beside a Wayland compositor): there
  // the window keeps its place when it is closed and shown again, and its bottom edge through
  // the page's layouts, which no Wayland compositor lets a window do. Under a Wayland compositor
  // it comes forward the same way on either, with the activation tokens of the desktop's
  // launches and notifications. Without an X server, Wayland; GDK_BACKEND=wayland chooses it.
  gdk_set_allowed_backends("x11,*");
  if (!gtk_init_check(nullptr, nullptr)) {
    const char* display = std::getenv("DISPLAY");
    const std::string name = display != nullptr && *display != '\0' ? display : "(not set)";
    log_printf(u"[window] Cannot open the display %s; the window cannot be shown. Exiting.", name);
    std::fprintf(stderr,
                 "telvana-print: cannot open the display %s. Start an X server (for example "
                 "Xvfb) and set DISPLAY, or run it in a Wayland session (WAYLAND_DISPLAY).\n",
                 name.c_str());
    return false;
  }
  GdkDisplay* display = gdk_display_get_default();
  g_signal_connect(display, "closed", G_CALLBACK(on_display_closed), nullptr);
  if (GDK_IS_X11_DISPLAY(display)) {
    XSetIOErrorHandler(on_x_io_error);
    XSetIOErrorExitHandler(gdk_x11_display_get_xdisplay(display), on_x_io_error_exit, nullptr);
  }
  return true;
}
