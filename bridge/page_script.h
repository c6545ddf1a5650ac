// Running script in the page: the only way the host calls into the page.
#pragma once

#include <string>

// Runs one script in the page, on the UI thread.
using ScriptRunner = void (*)(const std::u16string& script);

// Installs the runner (the web view host does, once the view exists); nullptr removes it.
void set_script_runner(ScriptRunner runner);

// Runs script through the installed runner; does nothing while there is none (no web view).
// Between the start of the page's first load and its end, scripts are kept and run, in order,
// once that first document has loaded.
void run_page_script(const std::u16string& script);

// Runs script once the page's document has finished loading: at once when it has, otherwise it
// is kept (only the latest such script) and run when notify_page_loaded is next called. For a
// hand-off that must not be lost while the page is still loading.
void run_page_script_when_loaded(const std::u16string& script);

// Called by the web view host when a load of the page starts (false) and when its document has
// finished loading (true).
void notify_page_loaded(bool loaded);

// Called by the web view host when the page's document is gone and a new first load of it has
// begun (its web process died): scripts are kept again until that document has loaded.
void notify_page_lost();
