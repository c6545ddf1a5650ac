// The page's web view host run inside the test process: a real host window, a real WebKitGTK
// view and a real page from a ui folder the test controls.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "tests/support/display_guard.h"
#include "tests/support/ui_loop.h"

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

// Evaluates expression in the page and returns its value as JSON text; absent on failure.
std::optional<std::string> page_eval(const std::string& expression);

// Waits until the page's scripts have run (window.pageReady).
bool wait_for_page_ready();

// Quotes text as a script string literal.
std::string js_string(const std::string& text);
