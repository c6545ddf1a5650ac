#include "tests/webview/page_harness.h"

#include <gtk/gtk.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "bridge/web_view_host.h"
#include "core/config.h"
#include "core/log.h"
#include "core/text.h"
#include "platform/ui_thread.h"
#include "tests/support/app_process.h"
#include "tests/support/temp_dir.h"
#include "window/host_window.h"

namespace {

std::vector<ShownBox> boxes;

void record_box(std::u16string_view text, std::u16string_view caption, MessageBoxIcon icon) {
  boxes.push_back({wide_to_utf8(text).value_or(""), wide_to_utf8(caption).value_or(""), icon});
}

struct Evaluation {
  bool done = false;
  std::optional<std::string> json;
};

void evaluation_done(GObject* view, GAsyncResult* result, gpointer data) {
  auto* evaluation = static_cast<Evaluation*>(data);
  GError* error = nullptr;
  JSCValue* value =
      webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
  if (value != nullptr) {
    gchar* json = jsc_value_to_json(value, 0);
    evaluation->json = json != nullptr ? std::string(json) : std::string("undefined");
    g_free(json);
    g_object_unref(value);
  }
  if (error != nullptr) g_error_free(error);
  evaluation->done = true;
}

}  // namespace

const std::vector<ShownBox>& shown_boxes() {
  return boxes;
}

void prepare_page_process(const std::string& root) {
  const std::string home = root + "/home";
  for (const char* sub : {"", "/data", "/data/applications", "/config", "/cache", "/runtime"}) {
    mkdir((home + sub).c_str(), 0700);
  }
  setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (home + "/runtime").c_str(), 1);
  setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);

  std::filesystem::copy(std::string(TELVANA_SOURCE_DIR) + "/tests/webview/pages", root + "/ui",
                        std::filesystem::copy_options::recursive);
  mkdir((root + "/out").c_str(), 0700);
  AppConfig config;
  config.ui_folder = folder_path(root + "/ui");
  config.output_folder = folder_path(root + "/out");
  config.app_version = format_app_version(compiled_app_version());
  set_app_config(config);
  log_open(root + "/out/telvana-print.log");
  set_message_box_hook(record_box);
  set_ui_thread();
  gtk_init(nullptr, nullptr);
}

void start_page_host(const std::string& root) {
  create_host_window(true);
  start_web_view_creation(root + "/out/WebView2");
}

void end_page_helpers() {
  std::vector<pid_t> helpers;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // Field 4 of stat is the parent; the command name (field 2) may hold spaces, so the
    // fields are read after its closing parenthesis.
    const std::string stat = read_file(entry.path().string() + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) != 2) continue;
    std::error_code error;
    const std::string exe = std::filesystem::read_symlink(entry.path() / "exe", error).string();
    if (parent == getpid() && exe.find("/webkit2gtk-") != std::string::npos) {
      helpers.push_back(static_cast<pid_t>(std::stol(name)));
    }
  }
  for (const pid_t pid : helpers) kill(pid, SIGKILL);
  for (const pid_t pid : helpers) waitpid(pid, nullptr, 0);
}

std::optional<std::string> page_eval(const std::string& expression) {
  WebKitWebView* view = page_web_view();
  if (view == nullptr) return std::nullopt;
  Evaluation evaluation;
  webkit_web_view_evaluate_javascript(view, expression.c_str(), -1, nullptr, nullptr, nullptr,
                                      evaluation_done, &evaluation);
  if (!pump_until([&] { return evaluation.done; })) return std::nullopt;
  return evaluation.json;
}

bool wait_for_page_ready() {
  return pump_until([] {
    if (page_web_view() == nullptr) return false;
    return page_eval("window.pageReady === true") == std::optional<std::string>("true");
  });
}

std::string js_string(const std::string& text) {
  std::string quoted = "'";
  quoted += wide_to_utf8(js_escape(utf8_to_wide(text))).value_or("");
  return quoted + "'";
}
