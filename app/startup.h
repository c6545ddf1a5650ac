// The application's start-up sequence, message loop and shutdown.
#pragma once

// Runs the whole application and returns the process exit code.
int run_application(int argc, char** argv);
