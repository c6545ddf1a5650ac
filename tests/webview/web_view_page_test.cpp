// The page's bridge end to end in this process: a real host window, a real WebKitGTK view and
// a real test page whose scripts send every message and record every call the host makes.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "bridge/page_script.h"
#include "bridge/web_view_host.h"
#include "platform/open_uri.h"
#include "tests/support/fax_service_process.h"
#include "tests/support/temp_dir.h"
#include "tests/webview/page_harness.h"
#include "window/host_window.h"

using nlohmann::json;

namespace {

TempDir* root = nullptr;
// Where the log stood when the current test began: tests share one page when run in one process.
std::size_t log_start = 0;

std::string out_path(const std::string& name) {
  return root->path() + "/out/" + name;
}
std::string log_text() {
  return read_file(out_path("telvana-print.log"));
}
// The log lines written since the current test began.
std::string new_log() {
  const std::string text = log_text();
  return text.size() > log_start ? text.substr(log_start) : std::string();
}
bool log_has(const std::string& text) {
  return new_log().find(text) != std::string::npos;
}

// Writes a desktop entry running a script that appends its URL argument to record_file, and
// makes it the default for scheme.
void register_recorder(const std::string& scheme, const std::string& program,
                       const std::string& record_file) {
  const std::string home = root->path() + "/home";
  const std::string script = home + "/record-" + scheme + ".sh";
  write_file(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record_file + "'\n");
  chmod(script.c_str(), 0755);
  const std::string exec = program.empty() ? script : program;
  write_file(home + "/data/applications/test-" + scheme + ".desktop",
             "[Desktop Entry]\nType=Application\nName=Test " + scheme + "\nExec=" + exec +
                 " %u\nMimeType=x-scheme-handler/" + scheme + ";\nNoDisplay=true\n");
  std::string list = read_file(home + "/config/mimeapps.list");
  if (list.empty()) list = "[Default Applications]\n";
  list += "x-scheme-handler/" + scheme + "=test-" + scheme + ".desktop\n";
  write_file(home + "/config/mimeapps.list", list);
}

class PageTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!display_available() || root != nullptr) return;
    root = new TempDir();
    prepare_page_process(root->path());
    register_recorder("https", "", root->path() + "/home/browser.txt");
    start_page_host(root->path());
    // A script run while the first load is still under way must not be lost.
    pump_until([] { return page_web_view() != nullptr; });
    run_page_script(u"window.heldScriptRuns=(window.heldScriptRuns||0)+1");
  }

  static void TearDownTestSuite() {
    end_page_helpers();
    delete root;
    root = nullptr;
  }

  void SetUp() override {
    SKIP_WITHOUT_DISPLAY();
    ASSERT_TRUE(wait_for_page_ready()) << log_text();
    log_start = log_text().size();
    ASSERT_TRUE(page_eval("received.length=0"));
  }

  static void post(const std::string& handler, const json& data) {
    json envelope = {{"handler", handler}, {"data", data}};
    ASSERT_TRUE(page_eval("post(" + js_string(envelope.dump()) + "),1"));
  }

  static void send(const std::string& handler, const std::string& data_expression) {
    ASSERT_TRUE(page_eval("send('" + handler + "'," + data_expression + "),1"));
  }

  // Sends a log line through the bridge and waits for it: everything sent before it has been
  // dispatched once it is in the log.
  static void sync_marker(const std::string& marker) {
    post("__log__", marker);
    ASSERT_TRUE(pump_until([&] { return log_has("[JS] " + marker + "\n"); }));
  }

  static json received(const std::string& callback) {
    const auto text = page_eval("received.filter(function(r){return r.name==='" + callback +
                                "';}).map(function(r){return r.args;})");
    return text ? json::parse(*text) : json();
  }

  static bool wait_received(const std::string& callback, std::size_t count) {
    return pump_until([&] { return received(callback).size() >= count; });
  }
};

TEST_F(PageTest, DocumentScriptIsInPlaceBeforeThePageScriptsRun) {
  const auto early = page_eval("early");
  ASSERT_TRUE(early);
  EXPECT_EQ(json::parse(*early),
            json({{"version", "1.0.0"}, {"shim", "function"}, {"webview", "function"}}));
  auto logged = [](const std::string& line) {
    return pump_until([&] { return log_text().find(line) != std::string::npos; });
  };
  EXPECT_TRUE(logged("[JS] log: page script started {\"first\":true}\n")) << log_text();
  EXPECT_TRUE(logged("[JS] log: version 1.0.0\n"));
  EXPECT_EQ(page_eval("window.heldScriptRuns"), std::optional<std::string>("1"));
}

TEST_F(PageTest, LogMessagesAreWrittenUnchanged) {
  struct Case {
    std::string send_expression;
    std::string line;
  };
  const Case cases[] = {
      {"post(JSON.stringify({handler:'__log__',data:'50%s done %d'}))", "[JS] 50%s done %d\n"},
      {"console.warn('careful', {a: [1, 2]})", "[JS] warn: careful {\"a\":[1,2]}\n"},
      {"console.error('bad', 7)", "[JS] error: bad 7\n"},
      {"console.info('na\\u00efve')", "[JS] info: na\xc3\xafve\n"},
      {"post(JSON.stringify({handler:'__log__'}))", "] [JS] \n"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(page_eval(c.send_expression + ",1"));
    EXPECT_TRUE(pump_until([&] { return log_has(c.line); })) << c.line;
  }
}

TEST_F(PageTest, UnknownAndWrongCaseNamesAreOnlyLogged) {
  const std::size_t boxes_before = shown_boxes().size();
  for (const std::string name :
       {"showalert", "ShowAlert", "SHOWALERT", "clearprintedfiles", "__LOG__", "noSuchHandler"}) {
    post(name, R"({"title":"T","message":"M"})");
    EXPECT_TRUE(pump_until([&] { return log_has("[bridge] UNHANDLED handler: " + name + "\n"); }))
        << name;
  }
  // An envelope without a string handler is dropped without a line.
  ASSERT_TRUE(page_eval("post(JSON.stringify({handler:7,data:'no handler'})),1"));
  sync_marker("after the unknown names");
  EXPECT_EQ(new_log().find("no handler"), std::string::npos);
  EXPECT_EQ(shown_boxes().size(), boxes_before);
}

TEST_F(PageTest, ShowAlertShowsAWarningBox) {
  struct Case {
    std::string data_expression;
    std::string text;
    std::string caption;
  };
  const Case cases[] = {
      {R"(JSON.stringify({title:'Fax sent',message:'All pages went out.'}))", "All pages went out.",
       "Fax sent"},
      {"undefined", "", "Telvana"},
      {"'not json at all'", "", "Telvana"},
      {R"(JSON.stringify({message:'only a message'}))", "only a message", "Telvana"},
  };
  std::size_t expected = shown_boxes().size();
  for (const auto& c : cases) {
    send("showAlert", c.data_expression);
    ++expected;
    ASSERT_TRUE(pump_until([&] { return shown_boxes().size() >= expected; })) << c.data_expression;
    EXPECT_EQ(shown_boxes().back().text, c.text);
    EXPECT_EQ(shown_boxes().back().caption, c.caption);
    EXPECT_EQ(shown_boxes().back().icon, MessageBoxIcon::warning);
  }
}

TEST_F(PageTest, ResizeWindowSetsThePageAreaOfEachLayout) {
  GtkWidget* view = GTK_WIDGET(page_web_view());
  auto page_area = [&] {
    return std::make_pair(gtk_widget_get_allocated_width(view),
                          gtk_widget_get_allocated_height(view));
  };
  struct Case {
    std::string data_expression;
    int width, height;
  };
  const Case cases[] = {
      {"'home-with-banner'", 514, 498}, {"'home'", 514, 414}, {"'settings'", 424, 414},
      {"'home-with-banner'", 514, 498}, {"''", 424, 414},     {"'Home'", 424, 414},
  };
  for (const auto& c : cases) {
    send("resizeWindow", c.data_expression);
    EXPECT_TRUE(pump_until([&] { return page_area() == std::make_pair(c.width, c.height); }))
        << c.data_expression << " gave " << page_area().first << "x" << page_area().second;
  }
  // Without data nothing changes.
  send("resizeWindow", "undefined");
  sync_marker("after resizing without data");
  EXPECT_EQ(page_area(), std::make_pair(424, 414));
}

TEST_F(PageTest, SetWindowBackgroundRepaintsTheTitleBar) {
  GtkWidget* window = GTK_WIDGET(host_window());
  auto bar_colour = [&]() -> std::optional<std::array<int, 3>> {
    GdkPixbuf* pixel = gdk_pixbuf_get_from_window(gtk_widget_get_window(window), 4, 4, 1, 1);
    if (pixel == nullptr) return std::nullopt;
    const guchar* p = gdk_pixbuf_get_pixels(pixel);
    std::array<int, 3> rgb{p[0], p[1], p[2]};
    g_object_unref(pixel);
    return rgb;
  };
  struct Case {
    std::string colour;
    std::array<int, 3> rgb;
  };
  const Case cases[] = {
      {"#1E90FF", {30, 144, 255}},  {"1E90FF", {30, 144, 255}}, {"#12345", {30, 144, 255}},
      {"#fafbfc", {250, 251, 252}}, {"#zzzzzz", {0, 0, 0}},     {"#00ff00", {0, 255, 0}},
  };
  for (const auto& c : cases) {
    send("setWindowBackground", js_string(c.colour));
    sync_marker("colour " + c.colour);
    EXPECT_TRUE(pump_until([&] { return bar_colour() == c.rgb; }))
        << c.colour << " gave " << (*bar_colour())[0] << "," << (*bar_colour())[1] << ","
        << (*bar_colour())[2];
  }
}

TEST_F(PageTest, BringToFrontShowsTheHiddenWindow) {
  GtkWidget* window = GTK_WIDGET(host_window());
  gtk_widget_hide(window);
  ASSERT_TRUE(pump_until([&] { return !gtk_widget_get_visible(window); }));
  send("bringToFront", "undefined");
  EXPECT_TRUE(pump_until([&] {
    return gtk_widget_get_visible(window) && gtk_widget_is_visible(GTK_WIDGET(page_web_view()));
  }));
}

TEST_F(PageTest, OpenBrowserUsesTheDefaultBrowser) {
  const std::string opened = root->path() + "/home/browser.txt";
  const std::string url = "https://fax.example.com/signin?next=%2Fhome&x='1'";
  send("openBrowser", js_string(url));
  EXPECT_TRUE(pump_until([&] { return read_file(opened) == url + "\n"; })) << read_file(opened);
  EXPECT_TRUE(log_has("[openBrowser] " + url + "\n"));
  // Empty or absent data opens nothing and logs nothing.
  send("openBrowser", "''");
  send("openBrowser", "undefined");
  sync_marker("after the empty links");
  EXPECT_EQ(new_log().find("[openBrowser] \n"), std::string::npos);
  EXPECT_EQ(read_file(opened), url + "\n");
  EXPECT_TRUE(received("_onDeeplinkResult").empty());
}

TEST_F(PageTest, DeeplinkResultFollowsTheRegisteredHandler) {
  const std::string opened = root->path() + "/home/companion.txt";
  ASSERT_FALSE(scheme_handler_exists("telvana"));
  send("openBrowser", "'TELVANA://fax/1'");
  ASSERT_TRUE(wait_received("_onDeeplinkResult", 1));
  EXPECT_EQ(received("_onDeeplinkResult"), json::parse("[[false]]"));
  EXPECT_TRUE(log_has("[openBrowser] deeplink TELVANA://fax/1: failed (no handler)\n"));

  register_recorder("telvana", "", opened);
  ASSERT_TRUE(pump_until([] { return scheme_handler_exists("telvana"); }));
  send("openBrowser", "'telvana://fax/2'");
  ASSERT_TRUE(wait_received("_onDeeplinkResult", 2));
  EXPECT_EQ(received("_onDeeplinkResult"), json::parse("[[false],[true]]"));
  EXPECT_TRUE(log_has("[openBrowser] deeplink telvana://fax/2: ok\n"));
  EXPECT_TRUE(pump_until([&] { return read_file(opened) == "telvana://fax/2\n"; }));

  // A registered handler whose program is gone does not count.
  std::filesystem::remove(root->path() + "/home/record-telvana.sh");
  ASSERT_FALSE(scheme_handler_exists("telvana"));
  send("openBrowser", "'Telvana://fax/3'");
  ASSERT_TRUE(wait_received("_onDeeplinkResult", 3));
  EXPECT_EQ(received("_onDeeplinkResult"), json::parse("[[false],[true],[false]]"));
  EXPECT_EQ(read_file(opened), "telvana://fax/2\n");
}

TEST_F(PageTest, RelaysAndUploadsAnswerThePage) {
  FaxServiceProcess service("demo-token", root->path() + "/ui/foreign");
  ASSERT_TRUE(service.started());
  const std::string pdf = out_path("fax 'one'.pdf");
  ASSERT_TRUE(write_file(pdf, "%PDF-1.4 test document"));

  json get_requests = json::array();
  auto http_get = [&](const std::string& id, const std::string& path) {
    send("httpGet", js_string(json({{"id", id}, {"url", service.url(path)}}).dump()));
  };
  http_get("g1", "/echo?x=1");
  http_get("g2", "/status/404");
  http_get("g3", "/empty");
  ASSERT_TRUE(wait_received("_onHttpGetResponse", 3));
  json answers = received("_onHttpGetResponse");
  std::sort(answers.begin(), answers.end());
  EXPECT_EQ(answers, json::parse(R"([["g1","{\"query\": \"x=1\"}",null],["g2",null,"HTTP 404"],
                                     ["g3","",null]])"));

  send("postToken",
       js_string(json({{"endpoint", service.url("/token")}, {"body", "code=abc"}}).dump()));
  ASSERT_TRUE(wait_received("_onTokenResponse", 1));
  send("postToken",
       js_string(json({{"endpoint", service.url("/token")}, {"body", "fail=1"}}).dump()));
  ASSERT_TRUE(wait_received("_onTokenResponse", 2));
  EXPECT_EQ(received("_onTokenResponse"),
            json::parse(R"([["{\"access_token\": \"issued-token\", \"form\": \"code=abc\"}",null],
                            [null,"HTTP 400: {\"error\": \"invalid_grant\"}"]])"));

  auto upload = [&](const std::string& path, const std::string& token) {
    send(
        "uploadPrintedFile",
        js_string(
            json({{"path", path}, {"token", token}, {"endpoint", service.url("/upload")}}).dump()));
  };
  upload(pdf, "demo-token");
  ASSERT_TRUE(wait_received("_onUploadResult", 1));
  upload(pdf, "wrong-token");
  ASSERT_TRUE(wait_received("_onUploadResult", 2));
  upload(out_path("missing.pdf"), "demo-token");
  ASSERT_TRUE(wait_received("_onUploadResult", 3));
  const json uploads = received("_onUploadResult");
  ASSERT_EQ(uploads.size(), 3u);
  EXPECT_EQ(json::parse(uploads[0][0].get<std::string>()),
            json({{"path", pdf}, {"storagePath", "faxes/fax 'one'.pdf"}}));
  EXPECT_EQ(json::parse(uploads[1][0].get<std::string>()),
            json({{"path", pdf}, {"error", "HTTP 401"}}));
  EXPECT_EQ(json::parse(uploads[2][0].get<std::string>()),
            json({{"path", out_path("missing.pdf")}, {"error", "Cannot read file"}}));
  EXPECT_NE(service.requests().find("\"authorization\": \"Bearer demo-token\""), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(pdf)) << "an upload never deletes the file";
  std::filesystem::remove(pdf);
}

TEST_F(PageTest, RequestsWithAMissingMemberStartNothing) {
  FaxServiceProcess service("demo-token", root->path() + "/ui/foreign");
  ASSERT_TRUE(service.started());
  const std::string url = service.url("/echo?never");
  const std::string incomplete[][2] = {
      {"httpGet", json({{"url", url}}).dump()},
      {"httpGet", json({{"id", "no-url"}}).dump()},
      {"httpGet", json({{"id", 5}, {"url", url}}).dump()},
      {"postToken", json({{"endpoint", service.url("/token")}}).dump()},
      {"postToken", json({{"body", "code=1"}}).dump()},
      {"uploadPrintedFile", json({{"path", out_path("x.pdf")}, {"token", "t"}}).dump()},
      {"uploadPrintedFile", json({{"token", "t"}, {"endpoint", service.url("/upload")}}).dump()},
  };
  for (const auto& request : incomplete) send(request[0], js_string(request[1]));
  for (const std::string handler : {"httpGet", "postToken", "uploadPrintedFile"}) {
    send(handler, "undefined");
    send(handler, "'not json'");
  }
  send("httpGet", js_string(json({{"id", "marker"}, {"url", service.url("/echo?marker")}}).dump()));
  ASSERT_TRUE(wait_received("_onHttpGetResponse", 1));
  EXPECT_EQ(received("_onHttpGetResponse")[0][0], "marker");
  EXPECT_TRUE(received("_onTokenResponse").empty());
  EXPECT_TRUE(received("_onUploadResult").empty());
  EXPECT_EQ(service.requests(), "{\"method\": \"GET\", \"path\": \"/echo?marker\"}\n");
}

TEST_F(PageTest, WatcherReportsPrintedFilesAndDeletionsRemoveThem) {
  const std::string before = out_path("before.pdf");
  ASSERT_TRUE(write_file(before, "%PDF-1.4 a"));
  ASSERT_TRUE(write_file(out_path("notes.txt"), "kept"));
  send("startFileWatcher", "undefined");
  ASSERT_TRUE(wait_received("_onNewPrintedFile", 1));
  EXPECT_EQ(received("_onNewPrintedFile")[0], json::array({before}));

  ASSERT_TRUE(write_file(out_path(".job-2"), "%PDF-1.4 b"));
  ASSERT_EQ(rename(out_path(".job-2").c_str(), out_path("it's \\ second.pdf").c_str()), 0);
  ASSERT_TRUE(wait_received("_onNewPrintedFile", 2));
  // A second start neither lists the folder again nor starts a second watcher.
  send("startFileWatcher", "undefined");
  ASSERT_TRUE(write_file(out_path(".job-3"), "%PDF-1.4 c"));
  ASSERT_EQ(rename(out_path(".job-3").c_str(), out_path("third.pdf").c_str()), 0);
  ASSERT_TRUE(wait_received("_onNewPrintedFile", 3));
  sync_marker("after the third file");
  EXPECT_EQ(
      received("_onNewPrintedFile"),
      json::parse(json::array({json::array({before}), json::array({out_path("it's \\ second.pdf")}),
                               json::array({out_path("third.pdf")})})
                      .dump()));

  send("deletePrintedFile", js_string(before));
  EXPECT_TRUE(pump_until([&] { return !std::filesystem::exists(before); }));
  send("clearPrintedFiles", "undefined");
  EXPECT_TRUE(pump_until([&] {
    return !std::filesystem::exists(out_path("third.pdf")) &&
           !std::filesystem::exists(out_path("it's \\ second.pdf"));
  }));
  EXPECT_EQ(read_file(out_path("notes.txt")), "kept");
}

TEST_F(PageTest, MessagesThatAreNotStringsAreDropped) {
  for (const std::string value : {"{handler:'__log__',data:'an object message'}", "42", "null",
                                  "undefined", "['__log__','an array message']", "true"}) {
    ASSERT_TRUE(page_eval("post(" + value + "),1")) << value;
  }
  sync_marker("after the values that are not strings");
  EXPECT_EQ(new_log().find("an object message"), std::string::npos);
  EXPECT_EQ(new_log().find("an array message"), std::string::npos);
  EXPECT_EQ(new_log().find("UNHANDLED"), std::string::npos);
}

TEST_F(PageTest, MessagesFromOtherOriginsAreDropped) {
  FaxServiceProcess service("demo-token", root->path() + "/ui/foreign");
  ASSERT_TRUE(service.started());
  // A frame of another origin cannot reach the bridge by any way.
  ASSERT_TRUE(page_eval("addFrame(" + js_string(service.url("/frame.html")) + "),1"));
  ASSERT_TRUE(pump_until([] {
    const auto reports = page_eval("frameReports.join(';')");
    return reports && reports->find("frame done") != std::string::npos;
  }));
  EXPECT_EQ(page_eval("frameReports.join(';')"), std::optional<std::string>("\"frame done: \""));
  sync_marker("after the frame");
  EXPECT_EQ(new_log().find("message from a foreign frame"), std::string::npos);

  // The view refuses to show another origin's document.
  const std::string foreign = service.url("/foreign.html");
  webkit_web_view_load_uri(page_web_view(), foreign.c_str());
  EXPECT_TRUE(pump_until([&] {
    return log_has("[webview] Navigation refused, opened in the system browser: " + foreign);
  })) << log_text();
  // A foreign document put in place behind the policy's back: its messages and every delivery
  // to the page are dropped with a line.
  webkit_web_view_load_alternate_html(page_web_view(),
                                      read_file(root->path() + "/ui/foreign/foreign.html").c_str(),
                                      foreign.c_str(), nullptr);
  EXPECT_TRUE(pump_until([&] { return log_has(" dropped: not a page of the ui folder"); }))
      << log_text();
  EXPECT_EQ(new_log().find("[JS] message from a foreign page"), std::string::npos);
  run_page_script(u"window.telvana.handleCallback('telvanaprinter://leak')");
  EXPECT_TRUE(log_has("[bridge] Delivery dropped: the view shows " + foreign + ", not the page"));

  webkit_web_view_load_uri(page_web_view(), page_address(true).c_str());
  ASSERT_TRUE(pump_until(
      [] { return page_eval("window.pageReady === true") == std::optional<std::string>("true"); }));
  sync_marker("back on the page");
}

TEST_F(PageTest, OnlyFilesInsideTheUiFolderAreServed) {
  const std::string ui = root->path() + "/ui";
  std::filesystem::create_directories(root->path() + "/secret");
  ASSERT_TRUE(write_file(root->path() + "/secret/secret.txt", "top secret"));
  ASSERT_TRUE(write_file(root->path() + "/secret.txt", "top secret"));
  std::error_code ignored;
  std::filesystem::create_directory_symlink(root->path() + "/secret", ui + "/link-out", ignored);
  std::filesystem::create_symlink(root->path() + "/secret.txt", ui + "/linked.txt", ignored);

  struct Case {
    std::string path;
    int status;
    std::string type;
  };
  const Case cases[] = {
      {"/page.js", 200, "text/javascript; charset=utf-8"},
      {"/index.html?x=1", 200, "text/html; charset=utf-8"},
      {"/missing.html", 404, "text/plain; charset=utf-8"},
      {"/../secret.txt", 404, "text/plain; charset=utf-8"},
      {"/%2e%2e/secret.txt", 404, "text/plain; charset=utf-8"},
      {"/foreign/%2E%2E%2F..%2Fsecret.txt", 404, "text/plain; charset=utf-8"},
      {"/link-out/secret.txt", 404, "text/plain; charset=utf-8"},
      {"/linked.txt", 404, "text/plain; charset=utf-8"},
      {"/foreign", 404, "text/plain; charset=utf-8"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(page_eval("fetchStatus(" + js_string(c.path) + "),1"));
    const std::string probe = "fetched[" + js_string(c.path) + "]";
    ASSERT_TRUE(pump_until([&] {
      return page_eval(probe) != std::optional<std::string>("undefined");
    })) << c.path;
    const json result = json::parse(*page_eval(probe));
    EXPECT_EQ(result["status"], c.status) << c.path;
    EXPECT_EQ(result["type"], c.type) << c.path;
    EXPECT_EQ(result["body"].get<std::string>().find("top secret"), std::string::npos) << c.path;
  }
}

}  // namespace
