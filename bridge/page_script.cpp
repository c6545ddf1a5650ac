// The installed script runner and the script held until the page has loaded.
#include "bridge/page_script.h"

#include <optional>

namespace {
// UI thread only.
ScriptRunner installed_runner = nullptr;
bool document_loaded = false;
std::optional<std::u16string> held_script;
}  // namespace

void set_script_runner(ScriptRunner runner) { installed_runner = runner; }

void run_page_script(const std::u16string& script) {
  if (installed_runner) installed_runner(script);
}

void run_page_script_when_loaded(const std::u16string& script) {
  if (document_loaded && installed_runner) {
    installed_runner(script);
  } else {
    held_script = script;
  }
}

void notify_page_loaded(bool loaded) {
  document_loaded = loaded;
  if (loaded && held_script && installed_runner) {
    const std::u16string script = std::move(*held_script);
    held_script.reset();
    installed_runner(script);
  }
}
