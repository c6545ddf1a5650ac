// The installed script runner, the scripts held until the page has loaded, and the page calls.
#include "bridge/page_script.h"

#include <optional>
#include <vector>

#include "core/text.h"

namespace {
// UI thread only.
ScriptRunner installed_runner = nullptr;
bool document_loaded = false;
bool any_document_loaded = false;
// A load has started and no document has finished loading yet: scripts run now would meet a
// blank document and be lost, so they wait for the first one.
bool awaiting_first_document = false;
std::vector<std::u16string> before_first_document;
std::optional<std::u16string> held_script;
}  // namespace

void set_script_runner(ScriptRunner runner) {
  installed_runner = runner;
}

void run_page_script(const std::u16string& script) {
  if (!installed_runner) return;
  if (awaiting_first_document) {
    before_first_document.push_back(script);
    return;
  }
  installed_runner(script);
}

void run_page_script_when_loaded(const std::u16string& script) {
  if (document_loaded && installed_runner) {
    installed_runner(script);
  } else {
    held_script = script;
  }
}

void notify_page_lost() {
  document_loaded = false;
  any_document_loaded = false;
  awaiting_first_document = true;
}

void notify_page_loaded(bool loaded) {
  document_loaded = loaded;
  if (!loaded) {
    awaiting_first_document = !any_document_loaded;
    return;
  }
  any_document_loaded = true;
  awaiting_first_document = false;
  if (!installed_runner) return;
  for (const std::u16string& script : before_first_document) installed_runner(script);
  before_first_document.clear();
  if (held_script) {
    const std::u16string script = std::move(*held_script);
    held_script.reset();
    installed_runner(script);
  }
}

std::u16string page_call(std::u16string_view callback, std::u16string_view arguments,
                         PageGuard guard) {
  if (guard == PageGuard::page_object_only) {
    return join_text({u"window.telvana&&window.telvana.", callback, u"(", arguments, u")"});
  }
  return join_text({u"window.telvana&&typeof window.telvana.", callback,
                    u"==='function'&&window.telvana.", callback, u"(", arguments, u")"});
}

void call_page(std::u16string_view callback, std::u16string_view arguments, PageGuard guard) {
  run_page_script(page_call(callback, arguments, guard));
}

std::u16string single_quoted(std::u16string_view text) {
  return join_text({u"'", js_escape(text), u"'"});
}
