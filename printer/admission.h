// Which requests the printer takes: only under a loopback name, and only from this user, or from
// the print service relaying this user's jobs. Any other local user may ask what the printer is.
#pragma once

#include <cups/ipp.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

// Who made a request, by the uid of the connection's other end.
enum class Caller {
  this_user,      // the user the program runs as
  print_service,  // root or the print service's user (CUPS backends run as lp or root)
  other_user,     // any other local user
  unknown,        // the kernel could not tell
};

// The caller behind a peer uid for a program running as self.
Caller caller_of(std::optional<uid_t> peer, uid_t self);

// The Host header as the printer serves it: "localhost", "localhost.", "127.0.0.1" or "[::1]"
// (names in any case), each alone or with ":<port>", given back as "localhost", "127.0.0.1" or
// "[::1]" with ":<port>" when it had one; and the printer's announced host name (in any case, with
// or without its final dot), which CUPS uses for queues print dialogs make from the announcement
// and which only this machine knows. Absent for anything else, an empty header included: a web
// page on a name that leads to this machine must not reach the printer. port absent takes any
// port, as on the local socket, whose clients name the port of their URI.
std::optional<std::string> served_host(std::string_view host, std::optional<int> port,
                                       std::string_view announced_host);

// Whether caller may make an IPP request of operation with this requesting-user-name (absent
// when the request names nobody). Everyone may ask for the printer's attributes; this user may
// do the rest (administration is refused apart, to everyone); the print service only for jobs
// of this user's name, own_name; other and unknown callers nothing else.
bool ipp_request_admitted(Caller caller, ipp_op_t operation,
                          std::optional<std::string_view> requesting_user,
                          std::string_view own_name);

// The name of the user the program runs as; empty when the system has none for its uid.
const std::string& own_user_name();
