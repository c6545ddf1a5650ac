// The frameless host window: creation, layouts, colour, bringing it forward.
#pragma once

#include <gtk/gtk.h>

#include <optional>
#include <string_view>

// Creates the window "Telvana Print-to-Fax" (app id "TelvanaPrintApp"), 514 x 442 logical
// pixels centred on the primary screen (on Wayland where the compositor places it), shown
// unless show is false. UI thread, once.
void create_host_window(bool show);

// The process-wide window; null until create_host_window.
GtkWindow* host_window();

// Places the page's view below the title bar, filling the rest of the window, and gives it the
// keyboard focus within the window.
void host_window_set_page_view(GtkWidget* view);

// Resizes the page area to width x height logical pixels (title bar not included), keeping the
// window's left and bottom edges where it places itself (X11; on Wayland the compositor keeps
// its top-left corner); the user cannot resize it.
void resize_host_window(int width, int height);

// Sets the background and title-bar colour from "#RRGGBB" text; other text is ignored.
void set_window_background(std::optional<std::u16string_view> text);

// Shows, restores (de-iconifies), raises and focuses the window on the current desktop, also
// against a window manager's focus-stealing prevention, then repaints it. A Wayland compositor
// lets it come forward only with activation_token (of a desktop launch or a notification).
void bring_host_window_to_front(std::optional<std::string_view> activation_token = std::nullopt);

// True while the window is shown and has the focus.
bool host_window_is_active();

// The title-bar strip at the top of the window; null until create_host_window.
GtkWidget* host_title_bar();

// The window's DPI: 96 x the display's scale factor x (Xft dpi / 96).
int host_window_dpi();
