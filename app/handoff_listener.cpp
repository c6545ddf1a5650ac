// Accepting hand-off connections and reading their frames without ever blocking the UI thread.
#include "app/handoff_listener.h"

#include <glib-unix.h>
#include <glib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "core/log.h"

namespace {

struct Connection {
  int fd = -1;
  guint watch = 0;     // readable / hang-up source
  guint deadline = 0;  // time-out source
  std::string received;
};

// UI thread only.
struct Listener {
  int fd = -1;
  guint watch = 0;
  std::string path;
  HandoffReceiver receiver = nullptr;
  HandoffListenerLimits limits;
  std::vector<std::unique_ptr<Connection>> connections;
};
Listener listener;

void close_connection(Connection* connection) {
  if (connection->watch != 0) g_source_remove(connection->watch);
  if (connection->deadline != 0) g_source_remove(connection->deadline);
  close(connection->fd);
  std::erase_if(listener.connections,
                [connection](const auto& owned) { return owned.get() == connection; });
}

void reject(Connection* connection, const std::string& reason) {
  log_printf(u"[callback] Hand-off frame rejected: %s", reason);
  close_connection(connection);
}

// Reads what has arrived; handles the frame once it is whole. Returns false when the connection
// has been closed.
bool read_available(Connection* connection) {
  char chunk[4096];
  for (;;) {
    const ssize_t got = recv(connection->fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (got <= 0) {
      reject(connection, got == 0 ? "sender closed the connection before a whole frame"
                                  : std::string("read failed: ") + std::strerror(errno));
      return false;
    }
    connection->received.append(chunk, static_cast<std::size_t>(got));
    const HandoffParse parse = parse_handoff_frame(connection->received);
    if (parse.status == HandoffParseStatus::invalid) {
      reject(connection, parse.error);
      return false;
    }
    if (parse.status == HandoffParseStatus::complete) {
      const std::int32_t answer = listener.receiver(parse.frame);
      // Four bytes always fit into a fresh socket's send buffer; a sender that has gone away
      // simply misses its answer.
      send(connection->fd, &answer, sizeof answer, MSG_DONTWAIT | MSG_NOSIGNAL);
      close_connection(connection);
      return false;
    }
  }
}

gboolean on_connection_ready(gint, GIOCondition, gpointer data) {
  // When the connection ends, close_connection has already removed this very source, which GLib
  // allows from the source's own callback.
  return read_available(static_cast<Connection*>(data)) ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

gboolean on_connection_deadline(gpointer data) {
  auto* connection = static_cast<Connection*>(data);
  connection->deadline = 0;  // this source ends with the return below
  reject(connection, "no whole frame within the time limit");
  return G_SOURCE_REMOVE;
}

bool peer_is_this_user(int fd) {
  struct ucred peer {};
  socklen_t size = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
  if (peer.uid == geteuid()) return true;
  log_printf(u"[callback] Hand-off from uid %u refused", static_cast<unsigned>(peer.uid));
  return false;
}

gboolean on_listener_ready(gint, GIOCondition, gpointer) {
  for (;;) {
    const int fd = accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return G_SOURCE_CONTINUE;  // EAGAIN, or a transient shortage (EMFILE): try on next wake
    }
    if (!peer_is_this_user(fd)) {
      close(fd);
      continue;
    }
    if (listener.connections.size() >= listener.limits.max_connections) {
      log_printf(u"[callback] Hand-off refused: %u connections already open",
                 static_cast<unsigned>(listener.connections.size()));
      close(fd);
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* raw = connection.get();
    listener.connections.push_back(std::move(connection));
    raw->watch = g_unix_fd_add(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                               on_connection_ready, raw);
    raw->deadline = g_timeout_add(static_cast<guint>(listener.limits.connection_deadline.count()),
                                  on_connection_deadline, raw);
  }
}

}  // namespace

bool start_handoff_listener(const std::string& socket_path, HandoffReceiver receiver,
                            HandoffListenerLimits limits) {
  stop_handoff_listener();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path.size() >= sizeof address.sun_path) {
    log_printf(u"[callback] Cannot listen on %s: path too long", socket_path);
    return false;
  }
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);

  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    log_printf(u"[callback] Cannot listen on %s: %s", socket_path, std::strerror(errno));
    return false;
  }
  // A socket left by an earlier instance that ended without cleaning up; only the holder of the
  // instance lock gets here.
  unlink(socket_path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      chmod(socket_path.c_str(), 0600) != 0 || listen(fd, 16) != 0) {
    log_printf(u"[callback] Cannot listen on %s: %s", socket_path, std::strerror(errno));
    close(fd);
    return false;
  }
  listener.fd = fd;
  listener.path = socket_path;
  listener.receiver = receiver;
  listener.limits = limits;
  listener.watch = g_unix_fd_add(fd, G_IO_IN, on_listener_ready, nullptr);
  return true;
}

void stop_handoff_listener() {
  while (!listener.connections.empty()) close_connection(listener.connections.back().get());
  if (listener.fd < 0) return;
  g_source_remove(listener.watch);
  close(listener.fd);
  unlink(listener.path.c_str());
  listener = Listener{};
}

std::size_t handoff_connection_count() {
  return listener.connections.size();
}
