// Opening the display for the window, and noticing when it goes away.
#pragma once

// The window's class (X11 WM_CLASS) and application id, and its title.
inline constexpr const char* WINDOW_CLASS = "TelvanaPrintApp";
inline constexpr const char* WINDOW_TITLE = "Telvana Print-to-Fax";

// Initialises GTK under the window's class name. When no display can be opened it says so on
// stderr and in the log and returns false. Once it succeeds, losing the display connection
// asks for shutdown (request_shutdown). UI thread, once.
bool init_window_system();
