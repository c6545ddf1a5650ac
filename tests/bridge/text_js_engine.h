// A real JavaScript engine (JavaScriptCore) for checking the script text the host writes.
#pragma once

#include <jsc/jsc.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct JsContextDeleter {
  void operator()(JSCContext* context) const { g_object_unref(context); }
};
using JsContext = std::unique_ptr<JSCContext, JsContextDeleter>;

// A fresh script context whose global object is also reachable as `window`, as in the page.
JsContext make_js_context();

// Outcome of one evaluation: the value as JSON text (JSON.stringify), or the exception's message.
struct JsOutcome {
  std::optional<std::string> json;
  std::string exception;
};

// Evaluates script (handed to the engine as UTF-8 with its length) in context.
JsOutcome js_evaluate(JSCContext* context, std::u16string_view script);
