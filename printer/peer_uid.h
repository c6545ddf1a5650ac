// Who is on the other end of a connection to the printer, as the kernel tells it.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

// The peer of one accepted connection: its uid (absent when the kernel cannot tell it) and a
// short description for log lines ("127.0.0.1:40312", "[::1]:40312", "local socket").
struct ConnectionPeer {
  std::optional<uid_t> uid;
  std::string address;
};

// The peer of the connected socket fd: SO_PEERCRED for a local socket; for TCP the owner of the
// client's socket in the kernel's socket table (netlink sock_diag), which exists only when the
// client runs on this machine.
ConnectionPeer connection_peer(int fd);
