// Handing a callback URL from a second start to the running instance, and on to the page.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/handoff_frame.h"

// The app's own URL scheme, compared case-sensitively.
inline constexpr std::u16string_view CALLBACK_SCHEME_PREFIX = u"telvanaprinter://";

// File name of the hand-off socket inside the runtime folder.
inline constexpr const char* HANDOFF_SOCKET_NAME = "TelvanaPrintApp.sock";

// How long a second start keeps trying to reach an instance that holds the instance lock but is
// still starting up and not yet listening.
inline constexpr std::chrono::milliseconds HANDOFF_CONNECT_RETRY{5000};

// How long a second start waits for the running instance's answer before it gives up.
inline constexpr std::chrono::milliseconds HANDOFF_ANSWER_WAIT{10000};

// The callback URL in a command line: from the first "telvanaprinter://" up to, not including,
// the first space, double quote or the end. Absent when the prefix does not occur.
std::optional<std::u16string> extract_callback_url(std::u16string_view command_line);

// The hand-off socket's path in the runtime folder; absent without a runtime folder.
std::optional<std::string> handoff_socket_path();

// What became of one hand-off.
struct HandoffOutcome {
  bool listener_found = false;         // a running instance accepted the connection
  std::optional<std::int32_t> answer;  // its answer, absent when it closed without one
  bool timed_out = false;              // no answer came within the time given
};

// Connects to socket_path (retrying for retry_for while nobody listens there yet), sends frame
// and waits until the receiver answers or closes the connection, each of the sending and the
// waiting for at most answer_within (whole seconds).
HandoffOutcome send_handoff(const std::string& socket_path, std::string_view frame,
                            std::chrono::milliseconds retry_for,
                            std::chrono::milliseconds answer_within = HANDOFF_ANSWER_WAIT);

// The second start's hand-off: logs the command line, and sends its callback URL (or an empty
// frame, which only brings the window forward) with the activation token it was launched with
// (XDG_ACTIVATION_TOKEN, else DESKTOP_STARTUP_ID) to the running instance.
void handle_second_instance(const std::string& command_line);

// The page call for a callback URL, the URL escaped for a single-quoted literal.
std::u16string callback_page_script(std::u16string_view url);

// Gives url to the page's handleCallback: at once when the page has loaded, otherwise when it
// has (the latest URL is kept). UI thread.
void send_callback_to_page(std::u16string_view url);

// The running instance's side of a hand-off: a payload that begins with "telvanaprinter://" goes
// to the page, and in every case the window comes to the front, presented with the frame's
// activation token when it has one. Returns the answer, 1. UI thread.
int receive_callback_handoff(const HandoffFrame& frame);

// Starts serving hand-offs on the socket in the runtime folder; called once the host window
// exists. False when it cannot (the reason is logged). UI thread.
bool start_callback_listener();

// A first instance started by the desktop with a callback URL on its command line gives it to
// the page like a handed-off one. UI thread.
void deliver_command_line_callback(const std::string& command_line);
