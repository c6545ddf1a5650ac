// The scripts the host puts into every document of the page before the page's own scripts run.
#pragma once

#include <string>
#include <string_view>

// Name of the isolated script world that alone can reach the host's message channel.
inline constexpr char BRIDGE_WORLD[] = "telvana-bridge";

// Name of the host's message channel inside that world.
inline constexpr char BRIDGE_CHANNEL[] = "telvanaBridge";

// The page's document script: the version line, the handler shim and the console forwarding,
// joined by line feeds.
std::u16string document_script(std::u16string_view app_version);

// Defines window.chrome.webview.postMessage(s) for the page. It hands s to the relay below by a
// DOM event on the top window, which frames of other origins cannot dispatch.
std::string bridge_prelude_script();

// Runs in the isolated world of the top frame: passes each message, with the address of the
// document that sent it, to the host's channel.
std::string bridge_relay_script();
