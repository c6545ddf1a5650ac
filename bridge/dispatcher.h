// The page's messages: unwrapping the bridge envelope and running the named handler.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

// Reads "handler" and "data" from one string message of the page and dispatches it. UI thread.
void on_web_message(std::u16string_view message);

// Runs the handler named handler with data; an unknown name is logged. UI thread.
void dispatch_bridge_message(std::optional<std::u16string_view> handler,
                             std::optional<std::u16string_view> data);

// The names of the handlers the page's document script offers the page, in the order they are
// tried: every one but the console's "__log__".
std::vector<std::u16string_view> page_handler_names();

// Opens url in the system browser, or a "telvana://" deeplink in the companion application
// when one is registered, telling the page the deeplink's outcome. UI thread.
void open_browser(std::optional<std::u16string_view> url);
