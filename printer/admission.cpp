// The printer's admission rules: loopback Host names, callers by uid, operations per caller.
#include "printer/admission.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "core/ascii_case.h"

namespace {

// The uid of a user name; absent when there is no such user.
std::optional<uid_t> uid_of(const char* name) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  return found->pw_uid;
}

// CUPS runs its backends as the user "lp" (root for backends only root may run).
const std::optional<uid_t>& print_service_uid() {
  static const std::optional<uid_t> uid = uid_of("lp");
  return uid;
}

}  // namespace

Caller caller_of(std::optional<uid_t> peer, uid_t self) {
  if (!peer) return Caller::unknown;
  if (*peer == self) return Caller::this_user;
  if (*peer == 0 || *peer == print_service_uid()) return Caller::print_service;
  return Caller::other_user;
}

std::optional<std::string> served_host(std::string_view host, std::optional<int> port,
                                       std::string_view announced_host) {
  // The port follows the name, or the closing bracket of an IPv6 address.
  std::size_t port_at = std::string_view::npos;
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    if (close != std::string_view::npos && close + 1 < host.size()) port_at = close + 1;
  } else {
    port_at = host.find(':');
  }
  const std::string_view name = host.substr(0, port_at);
  const std::string_view port_part =
      port_at == std::string_view::npos ? std::string_view() : host.substr(port_at);
  if (port && !port_part.empty() && port_part != ":" + std::to_string(*port)) return std::nullopt;
  std::string canonical;
  if (equals_ignoring_case(name, "localhost") || equals_ignoring_case(name, "localhost.")) {
    canonical = "localhost";
  } else if (name == "127.0.0.1" || name == "[::1]") {
    canonical = std::string(name);
  } else if (!announced_host.empty() &&
             (equals_ignoring_case(name, announced_host) ||
              (name.size() == announced_host.size() + 1 && name.back() == '.' &&
               equals_ignoring_case(name.substr(0, announced_host.size()), announced_host)))) {
    canonical = std::string(announced_host);
  } else {
    return std::nullopt;
  }
  return canonical + std::string(port_part);
}

bool ipp_request_admitted(Caller caller, ipp_op_t operation,
                          std::optional<std::string_view> requesting_user,
                          std::string_view own_name) {
  if (operation == IPP_OP_GET_PRINTER_ATTRIBUTES && caller != Caller::unknown) return true;
  switch (caller) {
    case Caller::this_user:
      return true;
    case Caller::print_service:
      return !own_name.empty() && requesting_user == own_name;
    default:
      return false;
  }
}

const std::string& own_user_name() {
  static const std::string name = [] {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
      return std::string();
    }
    return std::string(found->pw_name);
  }();
  return name;
}
