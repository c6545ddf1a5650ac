// A network of the test's own: the printer's fixed port and the DNS-SD traffic stay out of the
// machine's network, where other copies of the program may run.
#pragma once

// True when this process made its own network namespace, or is in one other than process 1's.
bool in_private_network();

// Moves this process (and every process it starts later) into a new network namespace with its
// loopback interface up, unless it is already in a private one. False when that is not allowed
// (not root); the test then shares the machine's network.
bool enter_private_network();

// Turns multicast on for the loopback interface (DNS-SD on loopback needs it). Only for a
// private network.
bool enable_loopback_multicast();
