// Opening URLs with the desktop's default applications.
#pragma once

#include <string>

// Launches the user's default application for uri's scheme; false when none could be launched.
bool open_uri(const std::string& uri);

// True when a default application is registered for scheme ("telvana", without "://") and the
// program it runs exists.
bool scheme_handler_exists(const std::string& scheme);
