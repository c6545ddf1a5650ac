// Evaluating script text in JavaScriptCore for the bridge tests.
#include "tests/bridge/text_js_engine.h"

#include "core/text.h"

JsContext make_js_context() {
  JsContext context(jsc_context_new());
  g_object_unref(jsc_context_evaluate(context.get(), "var window = this;", -1));
  return context;
}

JsOutcome js_evaluate(JSCContext* context, std::u16string_view script) {
  const std::string code = wide_to_utf8(script).value_or("");
  jsc_context_clear_exception(context);
  JSCValue* value = jsc_context_evaluate(context, code.data(), static_cast<gssize>(code.size()));
  JsOutcome outcome;
  if (JSCException* exception = jsc_context_get_exception(context)) {
    outcome.exception = jsc_exception_get_message(exception);
  } else if (jsc_value_is_undefined(value)) {
    outcome.json = "undefined";
  } else if (char* json = jsc_value_to_json(value, 0)) {
    outcome.json = json;
    g_free(json);
  }
  if (value) g_object_unref(value);
  return outcome;
}
