// Creating the page's web view in two steps on the UI loop, serving the ui folder to it, and
// carrying its messages to the dispatcher.
#include "bridge/web_view_host.h"

#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <memory>

#include "bridge/dispatcher.h"
#include "bridge/document_script.h"
#include "bridge/page_files.h"
#include "bridge/page_script.h"
#include "core/config.h"
#include "core/folder_listing.h"
#include "core/folders.h"
#include "core/log.h"
#include "core/text.h"
#include "files/file_watcher.h"
#include "platform/main_loop.h"
#include "platform/message_box.h"
#include "platform/open_uri.h"
#include "platform/ui_thread.h"
#include "window/host_window.h"

namespace {

// Memory limit of each of the page's web and network processes, in MB.
constexpr unsigned PAGE_PROCESS_MEMORY_LIMIT_MB = 512;

// Top-frame documents from the web are blocked before any request for them goes out; the failed
// load then hands the address to the system browser. Frames inside the page are not touched.
constexpr char TOP_FRAME_WEB_FILTER[] =
    R"([{"trigger":{"url-filter":"^https?:","resource-type":["document"],)"
    R"("load-context":["top-frame"]},"action":{"type":"block"}}])";

// WebKit's policy error for a load that a content filter blocked ("The URL was blocked by a
// content blocker"); WebKitGTK's list of policy errors does not name it.
constexpr int BLOCKED_BY_CONTENT_FILTER = 104;

// A page whose web process dies is loaded again at most this often within RELOAD_PERIOD, so that
// a crash loop does not spin.
constexpr std::size_t MAX_RELOADS = 3;
constexpr gint64 RELOAD_PERIOD_US = 60 * G_USEC_PER_SEC;

// UI thread only. The context and the view live for the rest of the process.
WebViewHostState host_state = WebViewHostState::no_browser;
std::string profile_folder_path;
WebKitWebContext* web_context = nullptr;
WebKitWebView* web_view = nullptr;
// The compiled filter of top-frame web documents; null when it could not be made.
WebKitUserContentFilter* top_frame_filter = nullptr;
// The top frame's committed document is one of the ui folder: only then do scripts run in it.
bool top_document_ours = false;
std::string loaded_address;
// Monotonic times of the reloads after a web process died, within the last RELOAD_PERIOD.
std::deque<gint64> reload_times;

void fail_creation(std::u16string_view text) {
  show_message_box(text, u"Telvana Print-to-Fax", MessageBoxIcon::error);
  quit_main_loop(1);
}

void finish_with(WebKitURISchemeRequest* request, GBytes* body, int status,
                 const std::string& content_type) {
  GInputStream* stream = g_memory_input_stream_new_from_bytes(body);
  WebKitURISchemeResponse* response =
      webkit_uri_scheme_response_new(stream, static_cast<gint64>(g_bytes_get_size(body)));
  webkit_uri_scheme_response_set_status(response, static_cast<guint>(status), nullptr);
  webkit_uri_scheme_response_set_content_type(response, content_type.c_str());
  // The page's fetch() sees only the headers given here.
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_replace(headers, "Content-Type", content_type.c_str());
  soup_message_headers_replace(headers, "Cache-Control", "no-cache");
  webkit_uri_scheme_response_set_http_headers(response, headers);
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(stream);
}

// Serves one request of the page host: a file inside the ui folder, or 404 for anything else.
void serve_page_file(WebKitURISchemeRequest* request, gpointer) {
  const char* uri = webkit_uri_scheme_request_get_uri(request);
  std::optional<std::string> file;
  if (GUri* parsed = g_uri_parse(uri, G_URI_FLAGS_ENCODED, nullptr)) {
    const char* host = g_uri_get_host(parsed);
    if (host != nullptr && g_ascii_strcasecmp(host, PAGE_HOST) == 0) {
      file = page_file_path(app_config().ui_folder.utf8, g_uri_get_path(parsed));
    }
    g_uri_unref(parsed);
  }
  gchar* contents = nullptr;
  gsize length = 0;
  if (file && g_file_get_contents(file->c_str(), &contents, &length, nullptr)) {
    GBytes* body = g_bytes_new_take(contents, length);
    finish_with(request, body, 200, page_content_type(*file));
    g_bytes_unref(body);
    return;
  }
  log_printf(u"[webview] Not found: %s", uri);
  static const char not_found[] = "Not found";
  GBytes* body = g_bytes_new_static(not_found, sizeof not_found - 1);
  finish_with(request, body, 404, "text/plain; charset=utf-8");
  g_bytes_unref(body);
}

void evaluate_in_view(const std::u16string& script) {
  const std::string text = wide_to_utf8(script).value_or("");
  webkit_web_view_evaluate_javascript(web_view, text.data(), static_cast<gssize>(text.size()),
                                      nullptr, nullptr, nullptr, nullptr, nullptr);
}

// The script runner of the page: UI thread only and nothing while there is no view. Scripts
// that arrive before the page's first load has finished are kept by run_page_script.
void run_script_in_view(const std::u16string& script) {
  if (!on_ui_thread()) {
    post_to_ui_thread([script] { run_page_script(script); });
    return;
  }
  if (web_view == nullptr) return;
  if (!top_document_ours) {
    const char* shown = webkit_web_view_get_uri(web_view);
    log_printf(u"[bridge] Delivery dropped: the view shows %s, not the page",
               shown != nullptr ? shown : "(nothing)");
    return;
  }
  evaluate_in_view(script);
}

bool is_web_address(const std::string& uri) {
  return g_str_has_prefix(uri.c_str(), "http://") || g_str_has_prefix(uri.c_str(), "https://");
}

// A document that may not be shown in the view: web addresses go to the system browser.
void refuse_navigation(std::u16string_view what, const char* uri) {
  const std::string address = uri != nullptr ? uri : "";
  if (is_web_address(address)) {
    log_printf(u"[webview] %s refused, opened in the system browser: %s", what, address);
    open_uri(address);
  } else {
    log_printf(u"[webview] %s refused: %s", what, address);
  }
}

// True for the schemes of documents a frame may show; links of any other scheme (mailto:, smb:,
// the app's own) are never loaded into the view.
bool document_scheme(const char* uri) {
  const char* scheme = g_uri_peek_scheme(uri);
  bool known = false;
  for (const char* name : {"http", "https", "about", "data", "blob", "file", PAGE_SCHEME}) {
    if (scheme != nullptr && g_ascii_strcasecmp(scheme, name) == 0) known = true;
  }
  return known;
}

// A failed load of anything but the page shows no error document in its place: the page stays.
// A web address the filter stopped before it was asked for goes to the system browser.
gboolean keep_page_on_failure(WebKitWebView*, WebKitLoadEvent, const char* uri, GError* error,
                              gpointer) {
  if (uri == nullptr || address_in_ui_folder(uri)) return FALSE;
  if (error != nullptr && error->domain == WEBKIT_POLICY_ERROR &&
      error->code == BLOCKED_BY_CONTENT_FILTER) {
    refuse_navigation(u"Navigation", uri);
  }
  return TRUE;
}

// The address a navigation or new-window decision is about.
const char* navigation_uri(WebKitPolicyDecision* decision) {
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  return webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
}

// The top frame shows only documents of the ui folder, and no new windows are opened: a web
// document is stopped by the filter before it is asked for (see keep_page_on_failure), any other
// document (a file elsewhere, data:) when its response arrives. Frames inside the page load what
// they like; they cannot reach the bridge.
gboolean decide_policy(WebKitWebView*, WebKitPolicyDecision* decision,
                       WebKitPolicyDecisionType type, gpointer) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    const char* uri = navigation_uri(decision);
    webkit_policy_decision_ignore(decision);
    refuse_navigation(u"New window", uri);
    return TRUE;
  }
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
    const char* uri = navigation_uri(decision);
    if (uri == nullptr || document_scheme(uri)) return FALSE;
    webkit_policy_decision_ignore(decision);
    refuse_navigation(u"Navigation", uri);
    return TRUE;
  }
  if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
  auto* response_decision = WEBKIT_RESPONSE_POLICY_DECISION(decision);
  if (!webkit_response_policy_decision_is_main_frame_main_resource(response_decision)) {
    return FALSE;
  }
  const char* uri =
      webkit_uri_response_get_uri(webkit_response_policy_decision_get_response(response_decision));
  if (uri != nullptr && address_in_ui_folder(uri)) return FALSE;
  webkit_policy_decision_ignore(decision);
  refuse_navigation(u"Navigation", uri);
  return TRUE;
}

void on_load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
  if (event == WEBKIT_LOAD_COMMITTED) {
    const char* uri = webkit_web_view_get_uri(view);
    top_document_ours = uri != nullptr && address_in_ui_folder(uri);
  }
  if (event == WEBKIT_LOAD_STARTED) {
    notify_page_loaded(false);
  } else if (event == WEBKIT_LOAD_FINISHED) {
    notify_page_loaded(true);
  }
}

std::u16string_view termination_reason(WebKitWebProcessTerminationReason reason) {
  switch (reason) {
    case WEBKIT_WEB_PROCESS_CRASHED:
      return u"crashed";
    case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT:
      return u"exceeded its memory limit";
    default:
      return u"ended";
  }
}

// The page's web process is gone and the view is blank: load the page again, as on the first
// load, unless that already happened too often lately.
void on_web_process_terminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason,
                               gpointer) {
  top_document_ours = false;
  const gint64 now = g_get_monotonic_time();
  while (!reload_times.empty() && now - reload_times.front() > RELOAD_PERIOD_US) {
    reload_times.pop_front();
  }
  if (reload_times.size() >= MAX_RELOADS) {
    log_printf(u"[webview] Web process %s; reloaded %zu times within a minute, not again",
               termination_reason(reason), reload_times.size());
    return;
  }
  reload_times.push_back(now);
  log_printf(u"[webview] Web process %s; loading the page again", termination_reason(reason));
  notify_page_lost();
  relist_printed_files_on_next_start();
  webkit_web_view_load_uri(view, loaded_address.c_str());
}

gboolean refuse_context_menu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                             gpointer) {
  return TRUE;
}

// One message from the relay: [address of the sending document, the page's message]. Messages
// from documents outside the ui folder are dropped; so are messages that are not strings.
void on_channel_message(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer) {
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!jsc_value_is_array(value)) return;
  JSCValue* address = jsc_value_object_get_property_at_index(value, 0);
  JSCValue* message = jsc_value_object_get_property_at_index(value, 1);
  gchar* address_text = jsc_value_to_string(address);
  const std::string sender = address_text != nullptr ? address_text : "";
  g_free(address_text);
  if (!address_in_ui_folder(sender)) {
    log_printf(u"[bridge] Message from %s dropped: not a page of the ui folder", sender);
  } else if (jsc_value_is_string(message)) {
    gchar* text = jsc_value_to_string(message);
    if (auto wide = utf8_to_wide(text)) on_web_message(*wide);
    g_free(text);
  }
  g_object_unref(message);
  g_object_unref(address);
}

WebKitUserContentManager* make_content_manager() {
  WebKitUserContentManager* content = webkit_user_content_manager_new();
  if (top_frame_filter != nullptr) {
    webkit_user_content_manager_add_filter(content, top_frame_filter);
  }
  const std::string page_script =
      bridge_prelude_script() + "\n" +
      wide_to_utf8(document_script(app_config().app_version)).value_or("");
  WebKitUserScript* script =
      webkit_user_script_new(page_script.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
  WebKitUserScript* relay = webkit_user_script_new_for_world(
      bridge_relay_script().c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, BRIDGE_WORLD, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, relay);
  webkit_user_script_unref(relay);
  webkit_user_content_manager_register_script_message_handler_in_world(content, BRIDGE_CHANNEL,
                                                                       BRIDGE_WORLD);
  const std::string signal = std::string("script-message-received::") + BRIDGE_CHANNEL;
  g_signal_connect(content, signal.c_str(), G_CALLBACK(on_channel_message), nullptr);
  return content;
}

void on_controller_created() {
  GtkWindow* window = host_window();
  if (window == nullptr) {
    fail_creation(
        u"Web view initialization failed.\nPlease install the WebKitGTK 4.1 library (Debian "
        u"package libwebkit2gtk-4.1-0).");
    return;
  }
  WebKitUserContentManager* content = make_content_manager();
  auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", web_context,
                                            "user-content-manager", content, nullptr));
  g_object_unref(content);

  WebKitSettings* settings = webkit_web_view_get_settings(view);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  webkit_settings_set_enable_write_console_messages_to_stdout(settings, FALSE);
  webkit_web_view_set_zoom_level(view, 1.0);
  g_signal_connect(view, "context-menu", G_CALLBACK(refuse_context_menu), nullptr);
  g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), nullptr);
  g_signal_connect(view, "decide-policy", G_CALLBACK(decide_policy), nullptr);
  g_signal_connect(view, "load-failed", G_CALLBACK(keep_page_on_failure), nullptr);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(on_web_process_terminated), nullptr);

  // As a child of the window below its bar, the view follows the window's size and visibility.
  host_window_set_page_view(GTK_WIDGET(view));
  gtk_widget_show(GTK_WIDGET(view));
  web_view = view;
  host_state = WebViewHostState::ready;
  set_script_runner(run_script_in_view);
  // The page's first load begins here; scripts wait for its document.
  notify_page_loaded(false);
  const bool page_host = webkit_web_context_get_security_manager(web_context) != nullptr;
  loaded_address = page_address(page_host);
  webkit_web_view_load_uri(view, loaded_address.c_str());
}

enum class Profile { cannot_be_made, private_to_user, not_used };

// The profile folder may hold the page's token: it is used only when it is a folder of the user's
// that, with everything in it, the user alone can enter; otherwise the page runs without
// persistent storage.
Profile prepare_profile(const std::string& profile) {
  struct stat link {};
  const bool is_link = lstat(profile.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  if (!is_link && !create_folder_with_parents(profile)) return Profile::cannot_be_made;
  const std::optional<std::string> fault = make_folder_tree_private(profile);
  if (!fault) return Profile::private_to_user;
  log_printf(
      u"[webview] The profile folder is not used: %s; the page runs without persistent "
      u"storage",
      *fault);
  return Profile::not_used;
}

// Removes the filter store's folder and the files in it.
void remove_filter_store(const std::string& folder) {
  {
    FolderListing listing(folder);
    while (const char* name = listing.next()) unlinkat(listing.fd(), name, 0);
  }
  rmdir(folder.c_str());
}

// The filter is compiled; the view is made with it. Its store is not needed after the compile,
// which keeps the filter in memory.
void on_filter_saved(GObject* store, GAsyncResult* result, gpointer folder) {
  std::unique_ptr<std::string> store_folder(static_cast<std::string*>(folder));
  GError* error = nullptr;
  top_frame_filter = webkit_user_content_filter_store_save_finish(
      WEBKIT_USER_CONTENT_FILTER_STORE(store), result, &error);
  if (top_frame_filter == nullptr) {
    log_printf(u"[webview] The navigation filter cannot be made: %s",
               error != nullptr ? error->message : "");
    g_clear_error(&error);
  }
  g_object_unref(store);
  remove_filter_store(*store_folder);
  on_controller_created();
}

// Compiles the filter of top-frame web documents in a private folder of its own, then goes on
// to create the view.
void compile_navigation_filter() {
  gchar* folder = g_dir_make_tmp("telvana-filter-XXXXXX", nullptr);
  if (folder == nullptr) {
    log_printf(u"[webview] The navigation filter cannot be made: no temporary folder");
    post_to_ui_thread(on_controller_created);
    return;
  }
  WebKitUserContentFilterStore* store = webkit_user_content_filter_store_new(folder);
  GBytes* rules = g_bytes_new_static(TOP_FRAME_WEB_FILTER, sizeof TOP_FRAME_WEB_FILTER - 1);
  webkit_user_content_filter_store_save(store, "top-frame-web", rules, nullptr, on_filter_saved,
                                        new std::string(folder));
  g_bytes_unref(rules);
  g_free(folder);
}

void on_environment_created() {
  const std::string& profile = profile_folder_path;
  const Profile state = prepare_profile(profile);
  if (state == Profile::cannot_be_made) {
    log_printf(u"[webview] Cannot create the profile folder %s", profile);
    fail_creation(
        u"Could not create the web view environment.\nPlease install the WebKitGTK 4.1 library "
        u"(Debian package libwebkit2gtk-4.1-0).");
    return;
  }
  const std::string cache = profile + "/cache";
  // Bounds the long-running web and network processes: above a third of the limit they release
  // what they can spare, above half also what is costly to rebuild; none is ever killed.
  WebKitMemoryPressureSettings* pressure = webkit_memory_pressure_settings_new();
  webkit_memory_pressure_settings_set_memory_limit(pressure, PAGE_PROCESS_MEMORY_LIMIT_MB);
  webkit_website_data_manager_set_memory_pressure_settings(pressure);
  const bool persistent = state == Profile::private_to_user;
  WebKitWebsiteDataManager* data =
      persistent ? webkit_website_data_manager_new("base-data-directory", profile.c_str(),
                                                   "base-cache-directory", cache.c_str(), nullptr)
                 : webkit_website_data_manager_new_ephemeral();
  web_context =
      WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", data,
                                      "memory-pressure-settings", pressure, nullptr));
  webkit_memory_pressure_settings_free(pressure);
  // The page is local and stays one page: no back-forward page cache, no memory cache.
  webkit_web_context_set_cache_model(web_context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  if (persistent) {
    const std::string cookies = profile + "/cookies.sqlite";
    webkit_cookie_manager_set_persistent_storage(
        webkit_website_data_manager_get_cookie_manager(data), cookies.c_str(),
        WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
  }
  g_object_unref(data);

  webkit_web_context_register_uri_scheme(web_context, PAGE_SCHEME, serve_page_file, nullptr,
                                         nullptr);
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(web_context);
  webkit_security_manager_register_uri_scheme_as_secure(security, PAGE_SCHEME);
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, PAGE_SCHEME);

  host_state = WebViewHostState::controller_requested;
  compile_navigation_filter();
}

}  // namespace

void start_web_view_creation(const std::string& profile_folder) {
  if (host_state != WebViewHostState::no_browser) return;
  profile_folder_path = profile_folder;
  host_state = WebViewHostState::environment_requested;
  post_to_ui_thread(on_environment_created);
}

WebViewHostState web_view_host_state() {
  return host_state;
}

WebKitWebView* page_web_view() {
  return web_view;
}

std::string page_address(bool page_host_available) {
  if (page_host_available) return std::string(PAGE_SCHEME) + "://" + PAGE_HOST + "/index.html";
  const std::string index = app_config().ui_folder.utf8 + "/index.html";
  gchar* uri = g_filename_to_uri(index.c_str(), nullptr, nullptr);
  std::string address = uri != nullptr ? uri : "file://" + index;
  g_free(uri);
  return address;
}

bool address_in_ui_folder(const std::string& address) {
  const std::string page_root = std::string(PAGE_SCHEME) + "://" + PAGE_HOST + "/";
  if (address.compare(0, page_root.size(), page_root) == 0) return true;
  if (address.compare(0, 7, "file://") != 0) return false;
  const std::string without_query = address.substr(0, address.find_first_of("?#"));
  gchar* path = g_filename_from_uri(without_query.c_str(), nullptr, nullptr);
  if (path == nullptr) return false;
  const std::string file = path;
  g_free(path);
  const std::string folder = app_config().ui_folder.utf8 + "/";
  return file.compare(0, folder.size(), folder) == 0 && file.find("/../") == std::string::npos;
}
