// The installed script runner.
#include "bridge/page_script.h"

namespace {
ScriptRunner installed_runner = nullptr;  // UI thread only
}

void set_script_runner(ScriptRunner runner) { installed_runner = runner; }

void run_page_script(const std::u16string& script) {
  if (installed_runner) installed_runner(script);
}
