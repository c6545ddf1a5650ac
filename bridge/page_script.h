// Running script in the page: the only way the host calls into the page.
#pragma once

#include <string>
#include <string_view>

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

// What a page call tests before it calls window.telvana.<callback>: that the page's object
// exists and the callback is a function, or the object alone (the token and GET answers, whose
// texts the page relies on as they are).
enum class PageGuard { callback_is_function, page_object_only };

// The script that calls window.telvana.<callback>(<arguments>) under guard; arguments is the
// text between the parentheses, every argument in it already a script literal.
std::u16string page_call(std::u16string_view callback, std::u16string_view arguments,
                         PageGuard guard = PageGuard::callback_is_function);

// Runs page_call(callback, arguments, guard) in the page, as run_page_script does.
void call_page(std::u16string_view callback, std::u16string_view arguments,
               PageGuard guard = PageGuard::callback_is_function);

// text as a single-quoted script literal.
std::u16string single_quoted(std::u16string_view text);
