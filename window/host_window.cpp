// The frameless host window: creation, title-bar events, layouts, colour and DPI changes.
#include "window/host_window.h"

#include <string>

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include "window/title_bar.h"
#include "window/window_colour.h"
#include "window/window_icon.h"
#include "window/window_layout.h"
#include "window/window_system.h"

namespace {

struct HostWindow {
  GtkWindow* window = nullptr;
  GtkWidget* content = nullptr;  // the bar, then the page view
  GtkWidget* title_bar = nullptr;
  LogicalSize logical_size = INITIAL_LOGICAL_SIZE;
  uint32_t background = INITIAL_BACKGROUND;
  CaptionButton hovered = CaptionButton::none;
  int dpi = 96;
  int scale = 1;  // device pixels per GTK unit
  // Where the window is (device pixels). Kept here because GTK cannot tell it while hidden
  // and reports it only after the window system has acted on a move. Only its size counts
  // where the window does not place itself.
  WindowRect rect{0, 0, 0, 0};
  // X11 lets the window place itself; a Wayland compositor places it, keeps its top-left
  // corner through size changes and tells nobody where it is.
  bool places_itself = true;
  // GDK 3.24.38 on Wayland drops the pointer's leave when the window's surface is already gone
  // (gdk/wayland/gdkdevice-wayland.c, pointer_handle_leave returns on a null surface), as it is
  // once the window is hidden; shown again, the bar gets an enter at the pointer's last place
  // in the old window, wherever the pointer is now, and the real enter is lost. So after a hide
  // on Wayland, enters are not taken until a motion tells where the pointer is. A GDK that ends
  // its pointer focus with the surface makes this flag unneeded.
  bool enter_stale = false;
};

HostWindow state;  // UI thread only

int xft_dpi_setting() {
  int xft = -1;
  g_object_get(gtk_settings_get_default(), "gtk-xft-dpi", &xft, nullptr);
  return xft;
}

int to_units(int device) {
  return device / state.scale;
}
int size_to_units(int device) {
  return (device + state.scale - 1) / state.scale;
}

// Moves and sizes the window to rect (device pixels) and pins its size there.
void place_window(const WindowRect& rect) {
  state.rect = rect;
  GdkGeometry hints{};
  hints.min_width = hints.max_width = size_to_units(rect.width);
  hints.min_height = hints.max_height = size_to_units(rect.height);
  // The window stays resizable for GTK, which would otherwise refuse to shrink it below its
  // content; the equal minimum and maximum keep the user from resizing it.
  gtk_window_set_geometry_hints(state.window, nullptr, &hints,
                                static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
  gtk_window_resize(state.window, hints.min_width, hints.min_height);
  if (state.places_itself) gtk_window_move(state.window, to_units(rect.x), to_units(rect.y));
}

void update_title_bar_height() {
  gtk_widget_set_size_request(state.title_bar, -1,
                              size_to_units(title_bar_metrics(state.dpi).height));
}

void set_hovered(CaptionButton button) {
  if (button == state.hovered) return;
  state.hovered = button;
  gtk_widget_queue_draw(state.title_bar);  // the strip only
}

CaptionButton button_at(double x, double y) {
  const int width = gtk_widget_get_allocated_width(state.title_bar) * state.scale;
  return caption_button_at(state.dpi, width, static_cast<int>(x * state.scale),
                           static_cast<int>(y * state.scale));
}

gboolean on_window_draw(GtkWidget*, cairo_t* cr, gpointer) {
  cairo_set_source_rgb(cr, ((state.background >> 16) & 0xFF) / 255.0,
                       ((state.background >> 8) & 0xFF) / 255.0, (state.background & 0xFF) / 255.0);
  cairo_paint(cr);
  return FALSE;  // the children draw on top
}

gboolean on_title_bar_draw(GtkWidget* widget, cairo_t* cr, gpointer) {
  cairo_save(cr);
  cairo_scale(cr, 1.0 / state.scale, 1.0 / state.scale);  // one unit per device pixel
  paint_title_bar(cr, state.dpi, gtk_widget_get_allocated_width(widget) * state.scale,
                  state.hovered, state.background);
  cairo_restore(cr);
  return FALSE;
}

gboolean on_motion(GtkWidget*, GdkEventMotion* event, gpointer) {
  state.enter_stale = false;
  set_hovered(button_at(event->x, event->y));
  return TRUE;
}

// An enter counts as a motion at its point: the bar may come under a pointer at rest (the
// window shown or grown there), and then no motion follows.
gboolean on_enter(GtkWidget*, GdkEventCrossing* event, gpointer) {
  if (!state.enter_stale) set_hovered(button_at(event->x, event->y));
  return TRUE;
}

gboolean on_leave(GtkWidget*, GdkEventCrossing*, gpointer) {
  set_hovered(CaptionButton::none);
  return TRUE;
}

gboolean on_button_press(GtkWidget*, GdkEventButton* event, gpointer) {
  if (event->type != GDK_BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY) return TRUE;
  const bool in_bar = event->y * state.scale < title_bar_metrics(state.dpi).height;
  if (in_bar && button_at(event->x, event->y) == CaptionButton::none) {
    gtk_window_begin_move_drag(state.window, static_cast<int>(event->button),
                               static_cast<int>(event->x_root), static_cast<int>(event->y_root),
                               event->time);
  }
  return TRUE;
}

gboolean on_button_release(GtkWidget*, GdkEventButton* event, gpointer) {
  if (event->button != GDK_BUTTON_PRIMARY) return TRUE;
  switch (button_at(event->x, event->y)) {
    case CaptionButton::close:
      gtk_window_close(state.window);  // closed the same way as on any other close request
      break;
    case CaptionButton::minimize:
      gtk_window_iconify(state.window);
      break;
    case CaptionButton::none:
      break;
  }
  return TRUE;
}

// Closing only hides the window: the printer and the watcher keep working.
gboolean on_delete(GtkWidget* widget, GdkEvent*, gpointer) {
  gtk_widget_hide(widget);
  return TRUE;
}

void on_unmap(GtkWidget*, gpointer) {
  state.hovered = CaptionButton::none;
  state.enter_stale = !state.places_itself;
}

gboolean on_configure(GtkWidget* widget, GdkEventConfigure* event, gpointer) {
  // A user's drag or the window manager's placement moves the window; a report of another
  // size is an older one, from before the latest resize, and is not taken.
  if (gtk_widget_get_mapped(widget) && event->width * state.scale == state.rect.width &&
      event->height * state.scale == state.rect.height) {
    state.rect.x = event->x * state.scale;
    state.rect.y = event->y * state.scale;
  }
  return FALSE;
}

// Re-applies logical_size at a new DPI, keeping the top-left corner.
void on_dpi_inputs_changed() {
  if (state.window == nullptr) return;
  const int scale = gtk_widget_get_scale_factor(GTK_WIDGET(state.window));
  const int dpi = dpi_from_settings(scale, xft_dpi_setting());
  if (scale == state.scale && dpi == state.dpi) return;
  state.scale = scale;
  state.dpi = dpi;
  const LogicalSize size = scale_size(state.logical_size, dpi);
  place_window(WindowRect{state.rect.x, state.rect.y, size.width, size.height});
  update_title_bar_height();
  gtk_widget_queue_draw(GTK_WIDGET(state.window));
}

void on_scale_factor_changed(GObject*, GParamSpec*, gpointer) {
  on_dpi_inputs_changed();
}
void on_xft_dpi_changed(GObject*, GParamSpec*, gpointer) {
  on_dpi_inputs_changed();
}

GdkMonitor* primary_monitor(GdkDisplay* display) {
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr && gdk_display_get_n_monitors(display) > 0) {
    monitor = gdk_display_get_monitor(display, 0);
  }
  return monitor;
}

GtkWidget* make_title_bar() {
  GtkWidget* bar = gtk_drawing_area_new();
  gtk_widget_add_events(bar, GDK_POINTER_MOTION_MASK | GDK_ENTER_NOTIFY_MASK |
                                 GDK_LEAVE_NOTIFY_MASK | GDK_BUTTON_PRESS_MASK |
                                 GDK_BUTTON_RELEASE_MASK);
  g_signal_connect(bar, "draw", G_CALLBACK(on_title_bar_draw), nullptr);
  g_signal_connect(bar, "motion-notify-event", G_CALLBACK(on_motion), nullptr);
  g_signal_connect(bar, "enter-notify-event", G_CALLBACK(on_enter), nullptr);
  g_signal_connect(bar, "leave-notify-event", G_CALLBACK(on_leave), nullptr);
  g_signal_connect(bar, "button-press-event", G_CALLBACK(on_button_press), nullptr);
  g_signal_connect(bar, "button-release-event", G_CALLBACK(on_button_release), nullptr);
  return bar;
}

}  // namespace

void create_host_window(bool show) {
  if (state.window != nullptr) return;
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = primary_monitor(display);
  state.scale = monitor != nullptr ? gdk_monitor_get_scale_factor(monitor) : 1;
  state.dpi = dpi_from_settings(state.scale, xft_dpi_setting());
#ifdef GDK_WINDOWING_X11
  state.places_itself = GDK_IS_X11_DISPLAY(display);
#else
  state.places_itself = false;
#endif

  GtkWidget* widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  state.window = GTK_WINDOW(widget);
  gtk_window_set_title(state.window, WINDOW_TITLE);
  gtk_window_set_decorated(state.window, FALSE);
  gtk_widget_set_app_paintable(widget, TRUE);
  set_window_icons(state.window);
  g_signal_connect(widget, "draw", G_CALLBACK(on_window_draw), nullptr);
  g_signal_connect(widget, "delete-event", G_CALLBACK(on_delete), nullptr);
  g_signal_connect(widget, "unmap", G_CALLBACK(on_unmap), nullptr);
  g_signal_connect(widget, "configure-event", G_CALLBACK(on_configure), nullptr);
  g_signal_connect(widget, "notify::scale-factor", G_CALLBACK(on_scale_factor_changed), nullptr);
  g_signal_connect(gtk_settings_get_default(), "notify::gtk-xft-dpi",
                   G_CALLBACK(on_xft_dpi_changed), nullptr);

  state.content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  state.title_bar = make_title_bar();
  update_title_bar_height();
  gtk_box_pack_start(GTK_BOX(state.content), state.title_bar, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(widget), state.content);
  gtk_widget_show_all(state.content);

  WindowRect screen{0, 0, 0, 0};
  if (monitor != nullptr) {
    GdkRectangle area;
    gdk_monitor_get_geometry(monitor, &area);
    screen = WindowRect{area.x * state.scale, area.y * state.scale, area.width * state.scale,
                        area.height * state.scale};
  }
  const LogicalSize size = scale_size(CREATION_SIZE, state.dpi);
  place_window(centred_rect(screen, size.width, size.height));
  // A hidden window still exists on the display, as the window system's own windows do.
  if (show) {
    gtk_widget_show(widget);
  } else {
    gtk_widget_realize(widget);
  }
}

GtkWindow* host_window() {
  return state.window;
}

GtkWidget* host_title_bar() {
  return state.title_bar;
}

int host_window_dpi() {
  return state.dpi;
}

void host_window_set_page_view(GtkWidget* view) {
  if (state.content == nullptr || view == nullptr) return;
  gtk_widget_set_hexpand(view, TRUE);
  gtk_widget_set_vexpand(view, TRUE);
  gtk_box_pack_start(GTK_BOX(state.content), view, TRUE, TRUE, 0);
  gtk_widget_show(view);
  // The page takes the keys whenever the window has the focus (the bar takes none).
  gtk_widget_grab_focus(view);
}

void resize_host_window(int width, int height) {
  // Stored first: the size limits applied during the move come from it.
  state.logical_size = logical_size_for_page(width, height);
  if (state.window == nullptr) return;
  const LogicalSize size = scale_size(state.logical_size, state.dpi);
  place_window(anchor_bottom_left(state.rect, size.width, size.height));
}

void set_window_background(std::optional<std::u16string_view> text) {
  const std::optional<uint32_t> colour = parse_window_background(text);
  if (!colour) return;
  state.background = *colour;
  if (state.window != nullptr) gtk_widget_queue_draw(GTK_WIDGET(state.window));
}

bool host_window_is_active() {
  return state.window != nullptr && gtk_widget_get_visible(GTK_WIDGET(state.window)) &&
         gtk_window_is_active(state.window);
}

void bring_host_window_to_front(std::optional<std::string_view> activation_token) {
  if (state.window == nullptr) return;
  GtkWidget* widget = GTK_WIDGET(state.window);
  // The request comes from no input of ours (a document was printed, another instance
  // started). A Wayland compositor gives the focus only for an activation token from the
  // user's input elsewhere: the launcher's or the browser's that started the second instance,
  // or the notification's. GTK presents the window with the token set here, at once when it is
  // shown, else when it is shown below; on X11 the token ends the launcher's start-up notice.
  if (activation_token) {
    gtk_window_set_startup_id(state.window, std::string(*activation_token).c_str());
  }
  // X11 window managers that prevent focus stealing compare the request's time with the user's
  // last input in the focused application, and a missing or stale time loses. The server's
  // present time is later than any input. A window left on another desktop is not activated
  // there; it is moved to the one the user is on first, and to its own place on it.
  guint32 time = GDK_CURRENT_TIME;
#ifdef GDK_WINDOWING_X11
  GdkWindow* gdk_window = gtk_widget_get_window(widget);
  if (gdk_window != nullptr && GDK_IS_X11_WINDOW(gdk_window)) {
    gtk_window_move(state.window, to_units(state.rect.x), to_units(state.rect.y));
    time = gdk_x11_get_server_time(gdk_window);
    gdk_x11_window_move_to_current_desktop(gdk_window);
  }
#endif
  gtk_window_deiconify(state.window);
  gtk_window_present_with_time(state.window, time);  // shows a hidden window too
  gtk_widget_queue_draw(widget);
}
