// Work-around for PAPPL 1.3.1, which acts on every request before the program can look at it:
// _papplClientProcessHTTP() takes any Host header that starts with a digit or '[' or ends in
// ".local", so a web page on a name that leads to 127.0.0.1 is of the same origin as the printer;
// the authentication callback is asked by some operations only (never by Get-Printers,
// Get-System-Attributes or Identify-Printer, nor for HTTP requests) and never for a client of
// the local socket, which _papplClientIsAuthorizedForGroup() lets through unasked; and the
// operation callback only for operations the framework does not know.
//
// The framework reads each request through two calls of libcups: httpUpdate() for its header and
// ippRead() for its IPP message. This file defines both, so that the framework's calls reach
// these first (a definition in the program comes before the one in the shared library), passes
// them on to libcups and checks what was read, on connections accepted by the printer only:
// - httpUpdate(): a Host that is not a loopback name, or a request other than IPP from anyone but
//   this user, is reported as a bad header, which the framework answers with 400 and the end of
//   the connection, before it looks at the request at all;
// - ippRead(): an IPP request its caller may not make is given an operation code the framework
//   does not know, which it hands to the operation callback: client-error-not-authorized.
// This file can go once the framework checks the Host against the names it listens on and asks
// one callback of the program about every request, local socket included, before acting on it.
#include "printer/pappl_request_door.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include "core/log.h"
#include "printer/admission.h"
#include "printer/dns_sd_announcement.h"
#include "printer/peer_uid.h"

namespace {

// The operation a refused request is given: a vendor code the framework does not know.
constexpr auto REFUSED_OPERATION = static_cast<ipp_op_t>(0x7FF0);

// The printer's TCP port; 0 until the door is opened, when no connection is the printer's.
std::atomic<int> printer_port{0};

template <class Function>
Function library_function(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Where a connection reached the printer.
enum class Door { none, tcp, local_socket };

// The printer's door of a connection: its port, its framework's local socket, or none for the
// program's other uses of libcups, which are clients and pass untouched.
Door printer_door(http_t* http) {
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  const int port = printer_port.load();
  if (port == 0 ||
      getsockname(httpGetFd(http), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return Door::none;
  }
  switch (local.ss_family) {
    case AF_UNIX:
      return length > offsetof(sockaddr_un, sun_path) &&
                     reinterpret_cast<const sockaddr_un&>(local).sun_path[0] != '\0'
                 ? Door::local_socket
                 : Door::none;
    case AF_INET:
      return ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port) == port ? Door::tcp
                                                                                 : Door::none;
    case AF_INET6:
      return ntohs(reinterpret_cast<const sockaddr_in6&>(local).sin6_port) == port ? Door::tcp
                                                                                   : Door::none;
    default:
      return Door::none;
  }
}

const char* text_or_empty(const char* text) {
  return text != nullptr ? text : "";
}

// The method of a request whose header has been read, by the state it left the connection in.
const char* method_name(http_state_t state) {
  switch (state) {
    case HTTP_STATE_OPTIONS:
      return "OPTIONS";
    case HTTP_STATE_GET:
    case HTTP_STATE_GET_SEND:
      return "GET";
    case HTTP_STATE_HEAD:
      return "HEAD";
    case HTTP_STATE_POST:
    case HTTP_STATE_POST_RECV:
    case HTTP_STATE_POST_SEND:
      return "POST";
    case HTTP_STATE_PUT:
    case HTTP_STATE_PUT_RECV:
      return "PUT";
    case HTTP_STATE_DELETE:
      return "DELETE";
    case HTTP_STATE_TRACE:
      return "TRACE";
    default:
      return "A request";
  }
}

std::string uid_text(const ConnectionPeer& peer) {
  return peer.uid ? "uid " + std::to_string(*peer.uid) : "an unknown user";
}

// The request whose header was just read at door may go on to the framework.
// The peer of the IPP request whose header the calling thread read last: the framework reads a
// request's header and its IPP message on one thread.
struct HeaderPeer {
  const http_t* http = nullptr;
  ConnectionPeer peer;
};
thread_local HeaderPeer header_peer;

bool header_admitted(http_t* http, Door door) {
  const char* host = text_or_empty(httpGetField(http, HTTP_FIELD_HOST));
  const std::optional<std::string> served =
      served_host(host, door == Door::tcp ? std::optional<int>(printer_port.load()) : std::nullopt,
                  announced_host_name());
  if (!served) {
    log_printf(u"[printer] Refused a request for host \"%s\" from %s: only localhost is served",
               host, connection_peer(httpGetFd(http)).address);
    return false;
  }
  // The framework itself knows only some of the forms, and builds its answers' URIs from it.
  if (*served != host) httpSetField(http, HTTP_FIELD_HOST, served->c_str());
  const char* method = method_name(httpGetState(http));
  const ConnectionPeer peer = connection_peer(httpGetFd(http));
  if (std::strcmp(method, "POST") == 0 &&
      std::strcmp(text_or_empty(httpGetField(http, HTTP_FIELD_CONTENT_TYPE)), "application/ipp") ==
          0) {
    // Its IPP message is looked at once it is read; the peer is known now, while the connection
    // surely stands (a client may be gone by then, its request still to be read).
    header_peer = {http, peer};
    return true;
  }
  if (caller_of(peer.uid, geteuid()) == Caller::this_user) return true;
  log_printf(u"[printer] Refused %s from %s over %s: only this user may use the printer", method,
             uid_text(peer), peer.address);
  return false;
}

// The operation callback: answers a request the door refused; the framework answers every other
// operation it does not know as before.
bool answer_refused_request(pappl_client_t* client, void* data) {
  (void)data;
  if (papplClientGetOperation(client) != REFUSED_OPERATION) return false;
  papplClientRespondIPP(client, IPP_STATUS_ERROR_NOT_AUTHORIZED,
                        "Only the user this printer belongs to may use it.");
  return true;
}

}  // namespace

http_status_t httpUpdate(http_t* http) {
  static const auto next = library_function<http_status_t (*)(http_t*)>("httpUpdate");
  const http_status_t status = next(http);
  if (status != HTTP_STATUS_OK) return status;
  const Door door = printer_door(http);
  return door == Door::none || header_admitted(http, door) ? status : HTTP_STATUS_BAD_REQUEST;
}

ipp_state_t ippRead(http_t* http, ipp_t* ipp) {
  static const auto next = library_function<ipp_state_t (*)(http_t*, ipp_t*)>("ippRead");
  const ipp_state_t state = next(http, ipp);
  if (state != IPP_STATE_DATA || http == nullptr || printer_door(http) == Door::none) return state;
  const ipp_op_t operation = ippGetOperation(ipp);
  const ConnectionPeer peer =
      header_peer.http == http ? header_peer.peer : connection_peer(httpGetFd(http));
  header_peer = {};
  const char* user =
      ippGetString(ippFindAttribute(ipp, "requesting-user-name", IPP_TAG_NAME), 0, nullptr);
  const std::optional<std::string_view> named =
      user != nullptr ? std::optional<std::string_view>(user) : std::nullopt;
  if (ipp_request_admitted(caller_of(peer.uid, geteuid()), operation, named, own_user_name())) {
    return state;
  }
  const std::string as = user != nullptr ? " as \"" + std::string(user) + "\"" : "";
  log_printf(u"[printer] Refused %s from %s over %s%s: only this user may use the printer",
             ippOpString(operation), uid_text(peer), peer.address, as);
  ippSetOperation(ipp, REFUSED_OPERATION);
  return state;
}

void open_request_door(pappl_system_t* system, int port) {
  printer_port.store(port);
  papplSystemSetOperationCallback(system, answer_refused_request, nullptr);
}
