// The page's messages: unwrapping the bridge envelope and running the named handler.
#pragma once

#include <optional>
#include <string_view>

// Reads "handler" and "data" from one string message of the page and dispatches it. UI thread.
void on_web_message(std::u16string_view message);

// Runs the handler named handler with data; an unknown name is logged. UI thread.
void dispatch_bridge_message(std::optional<std::u16string_view> handler,
                             std::optional<std::u16string_view> data);

// Opens url in the system browser, or a "telvana://" deeplink in the companion application
// when one is registered, telling the page the deeplink's outcome. UI thread.
void open_browser(std::optional<std::u16string_view> url);
