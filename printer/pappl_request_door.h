// The door every request to the printer passes before the framework acts on it (see the .cpp).
#pragma once

#include <pappl/pappl.h>

// Puts the door before system, which listens on port over TCP and on its local socket: from now
// on every request on those connections is checked before the framework acts on it.
void open_request_door(pappl_system_t* system, int port);
