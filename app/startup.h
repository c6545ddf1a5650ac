// The application's start-up sequence, message loop and shutdown.
#pragma once

#include <string>

// The command line as the application sees it: argv[1..] joined by single spaces; empty when
// there are no arguments.
std::string join_command_line(int argc, char** argv);

// True when "--hidden" occurs anywhere in the command line (a plain substring test).
bool command_line_hidden(const std::string& command_line);

// Runs the whole application and returns the process exit code.
int run_application(int argc, char** argv);
