// The UI thread's message loop and its quit message.
#pragma once

// Runs the loop on the UI thread until quit_main_loop; returns the code given to it.
int run_main_loop();

// Ends the loop with code; callable from any thread (posted to the UI thread).
void quit_main_loop(int code);

// Sets what request_shutdown runs on the UI thread before the loop ends (start-up hands down
// stopping the printer). UI thread, before the loop runs; none by default.
void set_shutdown_step(void (*step)());

// Shutdown asked for from outside the window (SIGTERM, SIGINT, SIGHUP, the display closing):
// runs the shutdown step and ends the loop with code 0. Callable from any thread.
void request_shutdown();
