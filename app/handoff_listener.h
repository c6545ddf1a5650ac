// The running instance's end of the hand-off socket, served on the UI thread's main loop.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "app/handoff_frame.h"

// Handles one well-formed frame on the UI thread; its result is the answer to the sender.
using HandoffReceiver = int (*)(const HandoffFrame& frame);

// Bounds on what one sender can hold of the receiver.
struct HandoffListenerLimits {
  // A connection that has not delivered a whole frame by then is dropped.
  std::chrono::milliseconds connection_deadline{5000};
  // Connections served at once; further ones are closed at once.
  std::size_t max_connections = 16;
};

// Binds socket_path (mode 0600, replacing a stale one) and serves it on the default main
// context: every connection is non-blocking and buffered on its own, only peers of this user
// are served, and each well-formed frame goes to receiver. False (and a log line) when the socket
// cannot be set up. UI thread.
bool start_handoff_listener(const std::string& socket_path, HandoffReceiver receiver,
                            HandoffListenerLimits limits = {});

// Drops every connection, closes the socket and removes its file. UI thread.
void stop_handoff_listener();

// Connections currently being served (tests).
std::size_t handoff_connection_count();
