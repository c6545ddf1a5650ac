// The UI side of the network tests.
#include "tests/net/page_capture.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "bridge/delivery.h"
#include "bridge/page_script.h"
#include "platform/ui_thread.h"
#include "tests/support/ui_loop.h"

namespace {

std::mutex events_mutex;
std::vector<PageEvent> captured;

void capture_script(const std::u16string& script) {
  std::lock_guard<std::mutex> lock(events_mutex);
  captured.push_back(PageEvent{false, script, {}, MessageBoxIcon::error, on_ui_thread()});
}

void capture_box(std::u16string_view text, std::u16string_view caption, MessageBoxIcon icon) {
  std::lock_guard<std::mutex> lock(events_mutex);
  captured.push_back(
      PageEvent{true, std::u16string(text), std::u16string(caption), icon, on_ui_thread()});
}

std::vector<PageEvent> take_events() {
  std::lock_guard<std::mutex> lock(events_mutex);
  std::vector<PageEvent> events;
  events.swap(captured);
  return events;
}

}  // namespace

void upload_to_page(std::unique_ptr<BridgeRequest> request) {
  upload_worker(std::move(request), deliver_upload_result);
}

void token_relay_to_page(std::unique_ptr<BridgeRequest> request) {
  token_relay_worker(std::move(request), deliver_token_result);
}

void http_get_to_page(std::unique_ptr<BridgeRequest> request) {
  http_get_relay_worker(std::move(request), deliver_http_get_result);
}

PageCapture::PageCapture() {
  set_ui_thread();
  set_script_runner(capture_script);
  set_message_box_hook(capture_box);
  drain_ui_loop();
  take_events();
}

PageCapture::~PageCapture() {
  set_script_runner(nullptr);
  set_message_box_hook(nullptr);
}

std::vector<PageEvent> PageCapture::run_worker(Worker worker,
                                               std::unique_ptr<BridgeRequest> request) {
  std::atomic<bool> ended{false};
  std::thread thread([&] {
    worker(std::move(request));
    ended = true;
  });
  // Generous hang guard only: a worker never waits this long in a passing run.
  pump_until([&] { return ended.load(); }, std::chrono::minutes(10));
  thread.join();
  drain_ui_loop();
  return take_events();
}

std::u16string PageCapture::upload_script(std::u16string path,
                                          std::optional<std::u16string> storage,
                                          std::optional<std::u16string> error) {
  deliver_upload_result(std::make_unique<BridgeRequest>(
      BridgeRequest{std::move(path), std::move(storage), std::move(error)}));
  return take_events().back().text;
}

std::u16string PageCapture::token_script(std::optional<std::u16string> body,
                                         std::optional<std::u16string> error) {
  deliver_token_result(
      std::make_unique<TokenResult>(TokenResult{std::move(body), std::move(error)}));
  return take_events().back().text;
}

std::u16string PageCapture::http_get_script(std::u16string id, std::optional<std::u16string> body,
                                            std::optional<std::u16string> error) {
  deliver_http_get_result(std::make_unique<BridgeRequest>(
      BridgeRequest{std::move(id), std::move(body), std::move(error)}));
  return take_events().back().text;
}
