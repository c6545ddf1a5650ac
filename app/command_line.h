// The command line as the application reads it.
#pragma once

#include <string>

// argv[1..] joined by single spaces; empty when there are no arguments.
std::string join_command_line(int argc, char** argv);

// True when "--hidden" occurs anywhere in the command line (a plain substring test).
bool command_line_hidden(const std::string& command_line);
