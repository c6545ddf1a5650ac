// Keeps SIGTERM, SIGINT and SIGHUP for the application's own signal-waiting thread after the
// printer framework has installed handlers for them.
#pragma once

// Replaces the framework's handlers with one that blocks the signal in the thread that caught
// it (a library thread that never blocked it) and sends it to the process again, so that it
// reaches the thread waiting for it. Safe to call more than once.
void route_quit_signals_to_waiter();
