// What the X server shows of the program's window, asked with xwininfo and xprop.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// True when a window titled "Telvana Print-to-Fax" of process pid is mapped and viewable.
bool window_viewable(pid_t pid);

// True when a window with this title (no quotes in it) of process pid is mapped and viewable.
bool window_viewable(pid_t pid, const std::string& title);

// How many windows with this title (no quotes in it) of process pid are mapped and viewable.
std::size_t viewable_window_count(pid_t pid, const std::string& title);
