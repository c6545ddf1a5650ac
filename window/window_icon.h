// The application icon, built into the program.
#pragma once

#include <gtk/gtk.h>

// Sets the icon, in every size the program carries, on window and as the default of later
// windows (message boxes).
void set_window_icons(GtkWindow* window);
