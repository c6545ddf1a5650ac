// The page's web view in the host window: its creation, profile, scripts, address and channel.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

// The scheme and host name that serve the ui folder to the page.
inline constexpr char PAGE_SCHEME[] = "telvana-ui";
inline constexpr char PAGE_HOST[] = "telvana-print.local";

// Where creation of the view stands.
enum class WebViewHostState { no_browser, environment_requested, controller_requested, ready };

// Starts creating the view in the host window with its profile (cookies, local storage, cache)
// in profile_folder. The rest happens on later turns of the UI loop; a failure shows its message
// box and ends the loop with exit code 1. UI thread, once.
void start_web_view_creation(const std::string& profile_folder);

// The current state of creation.
WebViewHostState web_view_host_state();

// The page's view; null until the state is ready.
WebKitWebView* page_web_view();

// The page's address: index.html at the root of the page host, or the file URL of the ui
// folder's index.html when the page host cannot be used.
std::string page_address(bool page_host_available);

// True when a message sent from the document at address may use the bridge: the document was
// loaded from the ui folder, through the page host or as a file URL inside the folder.
bool address_in_ui_folder(const std::string& address);
