// The uid behind a connection: the local socket's credentials, or the kernel's socket table for
// the client's end of a TCP connection over loopback.
#include "printer/peer_uid.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

#include "core/unique_fd.h"

namespace {

std::string address_text(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(v4.sin_port));
  }
  const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
  inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
  return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6.sin6_port));
}

// Copies the port and address of an IPv4 or IPv6 socket address into a diagnostic socket id.
void put_endpoint(const sockaddr_storage& address, __be16& port, __be32 (&words)[4]) {
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    port = v4.sin_port;
    std::memcpy(words, &v4.sin_addr, sizeof v4.sin_addr);
  } else {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    port = v6.sin6_port;
    std::memcpy(words, &v6.sin6_addr, sizeof v6.sin6_addr);
  }
}

// The owner of the TCP socket whose own end is client and whose other end is server.
std::optional<uid_t> tcp_socket_owner(const sockaddr_storage& client,
                                      const sockaddr_storage& server) {
  const UniqueFd netlink(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!netlink.is_open()) return std::nullopt;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.request.sdiag_family = static_cast<__u8>(client.ss_family);
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = ~0u;
  inet_diag_sockid& id = message.request.id;
  put_endpoint(client, id.idiag_sport, id.idiag_src);
  put_endpoint(server, id.idiag_dport, id.idiag_dst);
  id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(netlink.get(), &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof kernel) != static_cast<ssize_t>(sizeof message)) {
    return std::nullopt;
  }
  alignas(nlmsghdr) char answer[1024];
  const ssize_t length = recv(netlink.get(), answer, sizeof answer, 0);
  const auto* header = reinterpret_cast<const nlmsghdr*>(answer);
  if (length < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(inet_diag_msg))) ||
      !NLMSG_OK(header, static_cast<unsigned>(length)) ||
      header->nlmsg_type != SOCK_DIAG_BY_FAMILY) {
    return std::nullopt;
  }
  const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
  // The kernel answers only for the one socket with exactly these ends; check it all the same.
  if (found->id.idiag_sport != id.idiag_sport || found->id.idiag_dport != id.idiag_dport ||
      std::memcmp(found->id.idiag_src, id.idiag_src, sizeof id.idiag_src) != 0 ||
      std::memcmp(found->id.idiag_dst, id.idiag_dst, sizeof id.idiag_dst) != 0) {
    return std::nullopt;
  }
  return static_cast<uid_t>(found->idiag_uid);
}

}  // namespace

ConnectionPeer connection_peer(int fd) {
  ConnectionPeer peer;
  sockaddr_storage local{}, remote{};
  socklen_t local_length = sizeof local, remote_length = sizeof remote;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_length) != 0 ||
      getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remote_length) != 0) {
    peer.address = "unknown";
    return peer;
  }
  if (local.ss_family == AF_UNIX) {
    peer.address = "local socket";
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0) {
      peer.uid = credentials.uid;
    }
    return peer;
  }
  if (local.ss_family != AF_INET && local.ss_family != AF_INET6) {
    peer.address = "unknown";
    return peer;
  }
  peer.address = address_text(remote);
  peer.uid = tcp_socket_owner(remote, local);
  return peer;
}
