// Running script in the page: the one road by which the host calls into the page.
#pragma once

#include <string>

// Runs one script in the page, on the UI thread.
using ScriptRunner = void (*)(const std::u16string& script);

// Installs the runner (the web view host does, once the view exists); nullptr removes it.
void set_script_runner(ScriptRunner runner);

// Runs script through the installed runner; does nothing while there is none (no web view).
void run_page_script(const std::u16string& script);
