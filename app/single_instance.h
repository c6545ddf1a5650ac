// One running instance per user: the instance lock and the second-instance road of start-up.
#pragma once

#include <optional>
#include <string>

// File name of the instance lock inside the runtime folder.
inline constexpr const char* INSTANCE_LOCK_NAME = "TelvanaPrintApp_Mutex.lock";

// The per-user runtime folder that holds the instance lock and the hand-off socket:
// $XDG_RUNTIME_DIR when set and not empty, otherwise /tmp/telvana-<uid>, created with mode 0700
// and accepted only when it is a real folder owned by this user and closed to everyone else.
// Absent when no such folder can be had.
std::optional<std::string> instance_runtime_folder();

// Whether this process may run as the one instance of the user.
enum class InstanceLock { acquired, held_elsewhere, unavailable };

// Takes the instance lock (flock, exclusive, non-blocking) and keeps it until
// release_instance_lock or process exit. unavailable when the lock file cannot be created.
InstanceLock acquire_instance_lock();

// Gives the lock up (shutdown; tests).
void release_instance_lock();

// The single-instance test of start-up. True when start-up goes on as the first instance (a lock
// that cannot be created counts as that). False when another instance holds the lock: the command
// line has then been logged and handed over, and the program ends with exit code 0. Needs no
// display.
bool pass_single_instance_test(const std::string& command_line);
