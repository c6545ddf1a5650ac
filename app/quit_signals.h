// SIGTERM, SIGINT and SIGHUP: the outside request to end the application.
#pragma once

// Blocks the three signals in the calling thread; call before any other thread starts so that
// every thread inherits the mask (the printer framework installs handlers of its own).
void block_quit_signals();

// Starts the one thread that takes the three signals with sigwait and turns each into
// request_shutdown().
void start_quit_signal_thread();
