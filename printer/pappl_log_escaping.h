// The printer framework's log lines, written with the program's escapes (see the .cpp).
#pragma once

#include <pappl/pappl.h>

#include <cstdarg>
#include <string>

// Tells the framework's log functions the level below which the framework writes nothing, so
// that messages it would drop are not formatted. The system set-up calls it with the level it
// gives the framework; until then every message is formatted.
void set_framework_log_level(pappl_loglevel_t level);

// message with its arguments, formatted as the program's log lines are (control characters in
// "%s" and "%c" values escaped), with every '%' doubled so that it can serve as a format
// without conversions.
std::string framework_log_text(const char* message, va_list arguments);
