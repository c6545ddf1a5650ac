// Results posted from worker threads reach the page as the scripts it expects: each result goes
// through the real way of posting (another thread, the GLib default main context, the delivery
// routine the bridge hands a worker) and the captured scripts run in a real JavaScript engine
// against a stand-in window.telvana.
#include "bridge/delivery.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/page_script.h"
#include "core/text.h"
#include "platform/ui_thread.h"
#include "tests/bridge/text_js_engine.h"
#include "tests/support/ui_loop.h"

namespace {

using nlohmann::json;

std::vector<std::u16string> captured_scripts;

void capture_script(const std::u16string& script) {
  captured_scripts.push_back(script);
}

// Runs post on a thread of its own, then runs the UI loop until count scripts have arrived
// (the deadline only guards against a hang) and returns them.
std::vector<std::u16string> scripts_from(const std::function<void()>& post, std::size_t count) {
  captured_scripts.clear();
  set_script_runner(capture_script);
  std::thread(post).join();
  pump_until([&] { return captured_scripts.size() >= count; });
  set_script_runner(nullptr);
  return std::move(captured_scripts);
}

std::u16string script_from(const std::function<void()>& post) {
  const std::vector<std::u16string> scripts = scripts_from(post, 1);
  return scripts.empty() ? u"" : scripts.front();
}

// The page's side: every callback records its name and arguments; the upload result's JSON
// text is also parsed the way the page parses it.
constexpr char16_t PAGE[] =
    uR"(
  var calls = [];
  window.telvana = {
    _onNewPrintedFile: function (path) { calls.push(['newFile', path]); },
    _onUploadResult: function (text) { calls.push(['upload', JSON.parse(text)]); },
    _onTokenResponse: function (body, error) { calls.push(['token', body, error]); },
    _onHttpGetResponse: function (id, body, error) { calls.push(['get', id, body, error]); }
  };
  undefined;)";

// What the page received from script, as JSON.
json page_calls(const std::u16string& script) {
  const JsContext context = make_js_context();
  EXPECT_TRUE(js_evaluate(context.get(), PAGE).json);
  const JsOutcome run = js_evaluate(context.get(), script);
  EXPECT_TRUE(run.json) << run.exception << " in " << *wide_to_utf8(script);
  const JsOutcome calls = js_evaluate(context.get(), u"calls");
  return json::parse(calls.json.value_or("null"), nullptr, false);
}

std::string utf8(std::u16string_view text) {
  return *wide_to_utf8(text);
}

using Text = std::optional<std::u16string>;

// The posts of the watcher and the three workers, each with the routine the bridge hands it.
void post_new_file(std::u16string path) {
  post_result(deliver_new_printed_file, std::make_unique<NewPrintedFile>(NewPrintedFile{path}));
}
void post_upload(Text path, Text storage, Text error) {
  post_result(deliver_upload_result,
              std::make_unique<BridgeRequest>(BridgeRequest{path, storage, error}));
}
void post_token(Text body, Text error) {
  post_result(deliver_token_result, std::make_unique<TokenResult>(TokenResult{body, error}));
}
void post_get(Text id, Text body, Text error) {
  post_result(deliver_http_get_result,
              std::make_unique<BridgeRequest>(BridgeRequest{id, body, error}));
}

class Delivery : public testing::Test {
 protected:
  void TearDown() override { set_script_runner(nullptr); }
};

TEST_F(Delivery, ScriptsFollowThePageTemplatesExactly) {
  EXPECT_EQ(script_from([] { post_new_file(u"/o/a.pdf"); }),
            u"window.telvana&&typeof window.telvana._onNewPrintedFile==='function'&&"
            u"window.telvana._onNewPrintedFile('/o/a.pdf')");
  EXPECT_EQ(script_from([] { post_upload(u"/o/a.pdf", u"st/1", std::nullopt); }),
            u"window.telvana&&typeof window.telvana._onUploadResult==='function'&&"
            u"window.telvana._onUploadResult('{\"path\":\"/o/a.pdf\",\"storagePath\":\"st/1\"}')");
  EXPECT_EQ(script_from([] { post_upload(u"/o/a.pdf", std::nullopt, u"Cannot read file"); }),
            u"window.telvana&&typeof window.telvana._onUploadResult==='function'&&"
            u"window.telvana._onUploadResult('{\"path\":\"/o/a.pdf\",\"error\":\"Cannot read "
            u"file\"}')");
  EXPECT_EQ(script_from([] { post_token(u"{\"t\":1}", std::nullopt); }),
            u"window.telvana&&window.telvana._onTokenResponse(\"{\\\"t\\\":1}\",null)");
  EXPECT_EQ(script_from([] { post_get(u"7", std::nullopt, u"timeout"); }),
            u"window.telvana&&window.telvana._onHttpGetResponse(\"7\",null,\"timeout\")");
}

struct PageCase {
  const char* name;
  std::function<void()> post;
  json expected;
};

void PrintTo(const PageCase& c, std::ostream* os) {
  *os << c.name;
}

class DeliveryToPage : public testing::TestWithParam<PageCase> {};

TEST_P(DeliveryToPage, PageReceivesTheResultUnchanged) {
  const std::u16string script = script_from(GetParam().post);
  ASSERT_FALSE(script.empty()) << "no script arrived";
  EXPECT_EQ(page_calls(script), GetParam().expected);
}

const std::u16string AWKWARD_PATH =
    u"/home/o'neil/Fax \\ drafts/re\u0301sume\u0301\t\"x\" \u2028.pdf";
const std::u16string NON_ASCII_BODY = u"{\"name\":\"J\u00fcrgen \u4e2d \U0001F600\"}\n\x01\x7f";

const PageCase PAGE_CASES[] = {
    {"new_file_with_apostrophe_backslash_and_non_ascii", [] { post_new_file(AWKWARD_PATH); },
     json::array({json::array({"newFile", utf8(AWKWARD_PATH)})})},
    {"upload_success", [] { post_upload(AWKWARD_PATH, u"store/it's \\ here", std::nullopt); },
     json::array({json::array(
         {"upload", {{"path", utf8(AWKWARD_PATH)}, {"storagePath", "store/it's \\ here"}}})})},
    {"upload_success_without_storage_path_gives_empty_storage_path",
     [] { post_upload(u"/o/a.pdf", std::nullopt, std::nullopt); },
     json::array({json::array({"upload", {{"path", "/o/a.pdf"}, {"storagePath", ""}}})})},
    {"upload_error_wins_over_storage_path",
     [] { post_upload(u"/o/a.pdf", u"store/1", u"HTTP 500"); },
     json::array({json::array({"upload", {{"path", "/o/a.pdf"}, {"error", "HTTP 500"}}})})},
    {"upload_error_posted_before_any_request",
     [] { post_upload(u"/o/a.pdf", std::nullopt, u"native_handled"); },
     json::array({json::array({"upload", {{"path", "/o/a.pdf"}, {"error", "native_handled"}}})})},
    {"upload_empty_error_is_still_an_error", [] { post_upload(u"/o/a.pdf", u"store/1", u""); },
     json::array({json::array({"upload", {{"path", "/o/a.pdf"}, {"error", ""}}})})},
    {"token_success_gives_body_and_null", [] { post_token(NON_ASCII_BODY, std::nullopt); },
     json::array({json::array({"token", utf8(NON_ASCII_BODY), nullptr})})},
    {"token_failure_gives_null_and_error", [] { post_token(std::nullopt, u"Couldn't connect"); },
     json::array({json::array({"token", nullptr, "Couldn't connect"})})},
    {"http_get_non_ascii_body", [] { post_get(u"req-1", NON_ASCII_BODY, std::nullopt); },
     json::array({json::array({"get", "req-1", utf8(NON_ASCII_BODY), nullptr})})},
    {"http_get_error", [] { post_get(u"req-2", std::nullopt, u"HTTP 404"); },
     json::array({json::array({"get", "req-2", nullptr, "HTTP 404"})})},
};

INSTANTIATE_TEST_SUITE_P(Cases, DeliveryToPage, testing::ValuesIn(PAGE_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Delivery, GetBodiesAreWrittenAsPrintableAsciiInTheScript) {
  const std::u16string script = script_from([] { post_get(u"1", NON_ASCII_BODY, std::nullopt); });
  ASSERT_FALSE(script.empty());
  for (const char16_t unit : script) ASSERT_TRUE(unit >= 32 && unit <= 126) << int(unit);
}

TEST_F(Delivery, LongTextsAreNeverCut) {
  const std::u16string long_path = u"/o/" + std::u16string(20'000, u'\'') + u".pdf";
  const std::u16string new_file = script_from([&] { post_new_file(long_path); });
  EXPECT_EQ(page_calls(new_file), json::array({json::array({"newFile", utf8(long_path)})}));
  const std::u16string upload =
      script_from([&] { post_upload(long_path, std::u16string(9'000, u'\\'), std::nullopt); });
  EXPECT_EQ(
      page_calls(upload),
      json::array({json::array(
          {"upload", {{"path", utf8(long_path)}, {"storagePath", std::string(9'000, '\\')}}})}));
}

TEST_F(Delivery, OnePostersResultsArriveInTheOrderPosted) {
  constexpr int COUNT = 300;
  const std::vector<std::u16string> scripts = scripts_from(
      [] {
        for (int i = 0; i < COUNT; ++i) {
          const std::u16string n = *utf8_to_wide(std::to_string(i));
          switch (i % 4) {
            case 0:
              post_new_file(n);
              break;
            case 1:
              post_upload(n, std::nullopt, u"e");
              break;
            case 2:
              post_token(n, std::nullopt);
              break;
            default:
              post_get(n, u"b", std::nullopt);
              break;
          }
        }
      },
      COUNT);
  ASSERT_EQ(scripts.size(), std::size_t{COUNT});
  json expected = json::array();
  for (int i = 0; i < COUNT; ++i) {
    const std::string n = std::to_string(i);
    switch (i % 4) {
      case 0:
        expected.push_back(json::array({"newFile", n}));
        break;
      case 1:
        expected.push_back(json::array({"upload", {{"path", n}, {"error", "e"}}}));
        break;
      case 2:
        expected.push_back(json::array({"token", n, nullptr}));
        break;
      default:
        expected.push_back(json::array({"get", n, "b", nullptr}));
        break;
    }
  }
  std::u16string all;
  for (const std::u16string& script : scripts) all += script + u";\n";
  EXPECT_EQ(page_calls(all), expected);
}

TEST_F(Delivery, WithoutAPageResultsAreDroppedQuietly) {
  captured_scripts.clear();
  set_script_runner(nullptr);
  static bool reached = false;
  reached = false;
  std::thread([] {
    post_upload(u"/o/a.pdf", std::nullopt, u"e");
    post_new_file(u"/o/b.pdf");
    // Runs after both results, since one poster's order is kept.
    post_to_ui_thread([] { reached = true; });
  }).join();
  ASSERT_TRUE(pump_until([] { return reached; }));
  EXPECT_TRUE(captured_scripts.empty());
}

}  // namespace
