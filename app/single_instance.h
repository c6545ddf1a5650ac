// One running instance per user: the instance lock and handing a second start over to it.
#pragma once

#include <optional>
#include <string>

// File name of the instance lock inside the runtime folder.
inline constexpr const char* INSTANCE_LOCK_NAME = "TelvanaPrintApp_Mutex.lock";

// Whether this process may run as the one instance of the user.
enum class InstanceLock { acquired, held_elsewhere, unavailable };

// Takes the instance lock (flock, exclusive, non-blocking) and keeps it until
// release_instance_lock or process exit. unavailable when the lock file cannot be created.
InstanceLock acquire_instance_lock();

// Gives the lock up (shutdown; tests).
void release_instance_lock();

// The single-instance step of start-up: takes the instance lock, or hands command_line over to
// the instance that holds it. True when this process goes on as the first instance (a lock that
// cannot be created counts as that). False when another instance holds the lock: the command
// line has then been logged and handed over, and the program ends with exit code 0. Needs no
// display.
bool claim_first_instance_or_hand_over(const std::string& command_line);
