// The page's web view host run inside the test process: a real host window, a real WebKitGTK
// view and a real page from a ui folder the test controls, plus the local fax service.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/message_box.h"

// True when tests can open windows (DISPLAY is set).
bool display_available();

// One message box the host asked for.
struct ShownBox {
  std::string text;
  std::string caption;
  MessageBoxIcon icon;
};

// Message boxes shown so far (a hook stands for the user closing each at once).
const std::vector<ShownBox>& shown_boxes();

// Prepares a private HOME/XDG under root, root/ui with the test pages, root/out as the output
// folder with its log, and the process configuration; installs the message box hook and starts
// GTK. Call once per process, before anything touches GIO.
void prepare_page_process(const std::string& root);

// Creates the host window (shown) and starts creating the page's view with its profile in
// root/out/WebView2.
void start_page_host(const std::string& root);

// Ends the browser's helper processes started by this process and waits until they are gone,
// so that nothing writes into the page's profile any more. For the end of the tests.
void end_page_helpers();

// Runs the UI loop until predicate holds or timeout passes (a hang guard); its last value.
bool pump_until(const std::function<bool()>& predicate,
                std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Evaluates expression in the page and returns its value as JSON text; absent on failure.
std::optional<std::string> page_eval(const std::string& expression);

// Waits until the page's scripts have run (window.pageReady).
bool wait_for_page_ready();

// Quotes text as a script string literal.
std::string js_string(const std::string& text);

// The local fax service (tests/support/fax_service.py) on a free loopback port.
class FaxService {
 public:
  explicit FaxService(const std::string& pages_folder);
  ~FaxService();
  FaxService(const FaxService&) = delete;
  FaxService& operator=(const FaxService&) = delete;
  bool started() const { return port_ > 0; }
  std::string url(const std::string& path) const;
  // The requests the service has seen, one JSON object a line.
  std::string requests() const;

 private:
  int pid_ = -1;
  int port_ = 0;
  std::string port_file_;
};
