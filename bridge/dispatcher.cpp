// The bridge dispatcher: the twelve handlers the page can name, in their fixed order, each a row
// of one table.
#include "bridge/dispatcher.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge/delivery.h"
#include "bridge/page_script.h"
#include "core/ascii_case.h"
#include "core/log.h"
#include "core/text.h"
#include "files/file_watcher.h"
#include "files/printed_files.h"
#include "net/workers.h"
#include "platform/message_box.h"
#include "platform/open_uri.h"
#include "window/host_window.h"

namespace {

using Data = std::optional<std::u16string_view>;

// The handler of the page's console lines, which the console forwarding sends.
constexpr std::u16string_view CONSOLE_HANDLER = u"__log__";

// A worker's thread entry, given its request and where its result goes.
template <class Result>
using Worker = void (*)(std::unique_ptr<BridgeRequest>, Delivery<Result>);

std::optional<std::u16string_view> view_of(const std::optional<std::u16string>& text) {
  if (!text) return std::nullopt;
  return std::u16string_view(*text);
}

void log_page_line(Data data) {
  log_printf(u"[JS] %s", data.value_or(u""));
}

void show_alert(Data data) {
  const auto title = json_get_string(data, u"title");
  const auto message = json_get_string(data, u"message");
  show_message_box(message.value_or(u""), title.value_or(u"Telvana"), MessageBoxIcon::warning);
}

void resize_to_layout(Data data) {
  if (!data) return;
  if (*data == u"home-with-banner") {
    resize_host_window(514, 498);
  } else if (*data == u"home") {
    resize_host_window(514, 414);
  } else {
    resize_host_window(424, 414);
  }
}

// Starts worker on a thread of its own, its result going to deliver, when data holds every
// member named; otherwise nothing happens at all (no thread, no reply, no log line).
template <class Result>
void start_worker(Worker<Result> worker, Delivery<Result> deliver, Data data, const char16_t* first,
                  const char16_t* second, const char16_t* third = nullptr) {
  if (!data) return;
  auto request = std::make_unique<BridgeRequest>();
  request->first = json_get_string(data, first);
  request->second = json_get_string(data, second);
  if (third != nullptr) request->third = json_get_string(data, third);
  if (!request->first || !request->second || (third != nullptr && !request->third)) return;
  std::thread(worker, std::move(request), deliver).detach();
}

// True for the companion application's own links (telvana://, in any case).
bool is_deeplink(std::string_view url) {
  return starts_with_ignoring_case(url, "telvana://");
}

// True for the schemes a browser or mail program should open: http, https and mailto, in any
// case. Other schemes (files, shares, the app's own callbacks) would start other programs.
bool is_browser_url(std::string_view url) {
  const std::size_t colon = url.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view scheme = url.substr(0, colon);
  return equals_ignoring_case(scheme, "http") || equals_ignoring_case(scheme, "https") ||
         equals_ignoring_case(scheme, "mailto");
}

// One message the page can send: its name, compared exactly and case-sensitively, and what it
// does with the message's data.
struct BridgeHandler {
  std::u16string_view name;
  void (*run)(Data data);
};

// Tried in this order. The page's document script offers the page every name but the console's
// (document_script.cpp, held to this table by its test).
constexpr BridgeHandler BRIDGE_HANDLERS[] = {
    {CONSOLE_HANDLER, log_page_line},
    {u"showAlert", show_alert},
    {u"bringToFront", [](Data) { bring_host_window_to_front(); }},
    {u"openBrowser", open_browser},
    {u"resizeWindow", resize_to_layout},
    {u"setWindowBackground", set_window_background},
    {u"httpGet",
     [](Data data) {
       start_worker(http_get_relay_worker, deliver_http_get_result, data, u"id", u"url");
     }},
    {u"postToken",
     [](Data data) {
       start_worker(token_relay_worker, deliver_token_result, data, u"endpoint", u"body");
     }},
    {u"startFileWatcher", [](Data) { start_file_watcher(deliver_new_printed_file); }},
    {u"uploadPrintedFile",
     [](Data data) {
       start_worker(upload_worker, deliver_upload_result, data, u"path", u"token", u"endpoint");
     }},
    {u"deletePrintedFile", delete_printed_file},
    {u"clearPrintedFiles", [](Data) { clear_printed_files(); }},
};

}  // namespace

void on_web_message(std::u16string_view message) {
  const auto handler = json_get_string(message, u"handler");
  const auto data = json_get_string(message, u"data");
  dispatch_bridge_message(view_of(handler), view_of(data));
}

void dispatch_bridge_message(Data handler, Data data) {
  if (!handler) return;
  for (const BridgeHandler& row : BRIDGE_HANDLERS) {
    if (row.name == *handler) {
      row.run(data);
      return;
    }
  }
  log_printf(u"[bridge] UNHANDLED handler: %s", *handler);
}

std::vector<std::u16string_view> page_handler_names() {
  std::vector<std::u16string_view> names;
  for (const BridgeHandler& row : BRIDGE_HANDLERS) {
    if (row.name != CONSOLE_HANDLER) names.push_back(row.name);
  }
  return names;
}

void open_browser(Data url) {
  if (!url || url->empty()) return;
  const std::string url_utf8 = wide_to_utf8(*url).value_or("");
  if (!is_deeplink(url_utf8)) {
    if (!is_browser_url(url_utf8)) {
      log_printf(u"[openBrowser] Refused: %s", *url);
      return;
    }
    log_printf(u"[openBrowser] %s", *url);
    open_uri(url_utf8);
    return;
  }
  const bool handled = scheme_handler_exists("telvana");
  if (handled) open_uri(url_utf8);
  log_printf(u"[openBrowser] deeplink %s: %s", *url, handled ? u"ok" : u"failed (no handler)");
  call_page(u"_onDeeplinkResult", handled ? u"true" : u"false");
}
