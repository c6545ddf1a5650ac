// The page's document script, run in a real JavaScript engine: it offers the page exactly the
// dispatcher's handlers and wraps what the page sends into the envelope the dispatcher reads.
#include "bridge/document_script.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "bridge/dispatcher.h"
#include "core/text.h"
#include "tests/bridge/text_js_engine.h"

namespace {

using nlohmann::json;

// The host's side of the channel: every envelope the page's scripts post, parsed.
constexpr char16_t HOST[] =
    uR"(
  var posted = [];
  window.chrome = {webview: {postMessage: function (s) { posted.push(JSON.parse(s)); }}};
  var console = {};
  ['log', 'warn', 'error', 'info'].forEach(function (m) { console[m] = function () {}; });
  undefined;)";

json evaluate(JSCContext* context, std::u16string_view script) {
  const JsOutcome outcome = js_evaluate(context, script);
  EXPECT_TRUE(outcome.json) << outcome.exception;
  return json::parse(outcome.json.value_or("null"), nullptr, false);
}

TEST(DocumentScript, OffersThePageEveryHandlerOfTheDispatcherAndNoOther) {
  const JsContext context = make_js_context();
  evaluate(context.get(), HOST);
  evaluate(context.get(), document_script(u"9.8.7"));

  json names = json::array();
  for (const std::u16string_view name : page_handler_names()) names.push_back(*wide_to_utf8(name));
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(evaluate(context.get(), u"Object.keys(window.webkit.messageHandlers)"), names);

  // Each name posts its own envelope; a message without data carries null.
  evaluate(context.get(),
           uR"(
    Object.keys(window.webkit.messageHandlers).forEach(function (n) {
      window.webkit.messageHandlers[n].postMessage('to ' + n);
      window.webkit.messageHandlers[n].postMessage();
    });
    console.warn('seen', {a: 1});
    undefined;)");
  json expected = json::array();
  for (const auto& name : names) {
    expected.push_back({{"handler", name}, {"data", "to " + name.get<std::string>()}});
    expected.push_back({{"handler", name}, {"data", nullptr}});
  }
  expected.push_back({{"handler", "__log__"}, {"data", "warn: seen {\"a\":1}"}});
  EXPECT_EQ(evaluate(context.get(), u"posted"), expected);
  EXPECT_EQ(evaluate(context.get(), u"window.__TELVANA_APP_VERSION__"), "9.8.7");
}

}  // namespace
