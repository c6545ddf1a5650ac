// The per-user runtime folder shared by the instance lock and the hand-off socket.
#pragma once

#include <optional>
#include <string>

// The per-user runtime folder that holds the instance lock and the hand-off socket:
// $XDG_RUNTIME_DIR when set and not empty, otherwise /tmp/telvana-<uid>, created with mode 0700
// and accepted only when it is a real folder owned by this user and closed to everyone else.
// Absent when no such folder can be had.
std::optional<std::string> instance_runtime_folder();
