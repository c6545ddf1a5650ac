// The UI side of the network tests: this thread is the UI thread, the page's scripts and the
// message boxes are recorded in the order they reach it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "net/workers.h"
#include "platform/message_box.h"

// One thing that reached the user or the page.
struct PageEvent {
  bool is_box = false;
  std::u16string text;  // the script, or the box's text
  std::u16string caption;
  MessageBoxIcon icon = MessageBoxIcon::error;
  bool on_ui_thread = false;
};

// The workers as the dispatcher starts them: each with the bridge's delivery routine of its result.
void upload_to_page(std::unique_ptr<BridgeRequest> request);
void token_relay_to_page(std::unique_ptr<BridgeRequest> request);
void http_get_to_page(std::unique_ptr<BridgeRequest> request);
using Worker = void (*)(std::unique_ptr<BridgeRequest>);

class PageCapture {
 public:
  PageCapture();
  ~PageCapture();
  PageCapture(const PageCapture&) = delete;
  PageCapture& operator=(const PageCapture&) = delete;

  // Runs worker(request) on a thread of its own, as the dispatcher does, while this thread runs
  // the UI side until the worker has ended and everything it posted has been delivered.
  // The events that arrived meanwhile.
  std::vector<PageEvent> run_worker(Worker worker, std::unique_ptr<BridgeRequest> request);

  // The script the page gets for each kind of result.
  static std::u16string upload_script(std::u16string path, std::optional<std::u16string> storage,
                                      std::optional<std::u16string> error);
  static std::u16string token_script(std::optional<std::u16string> body,
                                     std::optional<std::u16string> error);
  static std::u16string http_get_script(std::u16string id, std::optional<std::u16string> body,
                                        std::optional<std::u16string> error);
};
