// The second start's sending side and the running instance's receiving side of a hand-off.
#include "app/callback_handoff.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/handoff_listener.h"
#include "app/runtime_folder.h"
#include "bridge/page_script.h"
#include "core/log.h"
#include "core/text.h"
#include "core/unique_fd.h"
#include "window/host_window.h"

namespace {

void pause_briefly() {
  struct timespec pause {
    0, 50 * 1000 * 1000
  };
  nanosleep(&pause, nullptr);
}

bool send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

// Reads the four-byte answer; absent when the receiver closed without one.
std::optional<std::int32_t> read_answer(int fd) {
  char bytes[HANDOFF_ANSWER_SIZE];
  std::size_t have = 0;
  while (have < sizeof bytes) {
    const ssize_t got = recv(fd, bytes + have, sizeof bytes - have, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    have += static_cast<std::size_t>(got);
  }
  std::int32_t answer = 0;
  std::memcpy(&answer, bytes, sizeof answer);
  return answer;
}

// The activation token the desktop launched this start with (an xdg-activation token on
// Wayland, a startup-notification id on X11), which lets the running instance take the focus.
std::optional<std::string> launch_activation_token() {
  for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && is_activation_token(value)) return std::string(value);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::u16string> extract_callback_url(std::u16string_view command_line) {
  const std::size_t start = command_line.find(CALLBACK_SCHEME_PREFIX);
  if (start == std::u16string_view::npos) return std::nullopt;
  const std::size_t end = command_line.find_first_of(u" \"", start);
  return std::u16string(command_line.substr(
      start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start));
}

std::optional<std::string> handoff_socket_path() {
  const std::optional<std::string> folder = instance_runtime_folder();
  if (!folder) return std::nullopt;
  return *folder + "/" + HANDOFF_SOCKET_NAME;
}

HandoffOutcome send_handoff(const std::string& socket_path, std::string_view frame,
                            std::chrono::milliseconds retry_for,
                            std::chrono::milliseconds answer_within) {
  HandoffOutcome outcome;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path.size() >= sizeof address.sun_path) return outcome;
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);

  const auto give_up = std::chrono::steady_clock::now() + retry_for;
  for (;;) {
    const UniqueFd socket_fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket_fd.get() < 0) return outcome;
    if (connect(socket_fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      outcome.listener_found = true;
      // A running instance that hangs must not hang every later start: the exchange is bounded.
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(answer_within);
      const timeval limit{static_cast<time_t>(seconds.count()), 0};
      setsockopt(socket_fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      setsockopt(socket_fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      errno = 0;
      if (send_all(socket_fd.get(), frame)) outcome.answer = read_answer(socket_fd.get());
      outcome.timed_out = !outcome.answer && (errno == EAGAIN || errno == EWOULDBLOCK);
      return outcome;
    }
    // No socket yet, or a stale one nobody listens on: the instance may still be starting.
    const bool not_listening = errno == ENOENT || errno == ECONNREFUSED || errno == EAGAIN;
    if (!not_listening || std::chrono::steady_clock::now() >= give_up) return outcome;
    pause_briefly();
  }
}

void handle_second_instance(const std::string& command_line) {
  log_printf(u"[callback] handle_second_instance cmdline: %s",
             command_line.empty() ? std::string("(none)") : command_line);
  const std::optional<std::u16string> url = extract_callback_url(*utf8_to_wide(command_line));
  std::string frame = encode_handoff_frame(url, launch_activation_token());
  // A token that would take the frame over the receiver's bound is left out: the URL counts.
  if (frame.size() > HANDOFF_HEADER_SIZE + HANDOFF_MAX_PAYLOAD) frame = encode_handoff_frame(url);
  const std::optional<std::string> path = handoff_socket_path();
  const HandoffOutcome outcome =
      path ? send_handoff(*path, frame, HANDOFF_CONNECT_RETRY, HANDOFF_ANSWER_WAIT)
           : HandoffOutcome{};
  if (!outcome.listener_found) {
    log_printf(u"[callback] No existing window found - app not running?");
  } else if (outcome.timed_out) {
    log_printf(u"[callback] No answer from the running instance within %d s - giving up",
               static_cast<int>(HANDOFF_ANSWER_WAIT.count() / 1000));
  }
}

std::u16string callback_page_script(std::u16string_view url) {
  return page_call(u"handleCallback", single_quoted(url));
}

void send_callback_to_page(std::u16string_view url) {
  run_page_script_when_loaded(callback_page_script(url));
}

int receive_callback_handoff(const HandoffFrame& frame) {
  if (frame.text && frame.text->starts_with(CALLBACK_SCHEME_PREFIX)) {
    send_callback_to_page(*frame.text);
  }
  bring_host_window_to_front(frame.activation_token);
  return 1;
}

bool start_callback_listener() {
  const std::optional<std::string> path = handoff_socket_path();
  if (!path) {
    log_printf(u"[callback] No runtime folder; hand-offs cannot reach this instance");
    return false;
  }
  return start_handoff_listener(*path, receive_callback_handoff);
}

void deliver_command_line_callback(const std::string& command_line) {
  const std::optional<std::u16string> url = extract_callback_url(*utf8_to_wide(command_line));
  if (url) send_callback_to_page(*url);
}
