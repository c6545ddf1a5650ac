// The UI thread's message loop and its quit message.
#pragma once

// Runs the loop on the UI thread until quit_main_loop; returns the code given to it.
int run_main_loop();

// Ends the loop with code; callable from any thread (posted to the UI thread).
void quit_main_loop(int code);

// The stand-in for the window's destruction from outside: stops the printer main loop and
// ends the loop with code 0. Called for SIGTERM, SIGINT and SIGHUP, and when the display closes.
void destroy_from_outside();
