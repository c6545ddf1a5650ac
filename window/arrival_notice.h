// Telling the user of a printed document when the window does not come forward for it.
#pragma once

#include <chrono>
#include <string_view>

// How long a document printed out of the user's sight waits for the window to come forward
// (the page asks for it) before a desktop notification names it.
inline constexpr std::chrono::milliseconds ARRIVAL_NOTICE_DELAY{2000};

// A document was printed while the program runs (path: its full path). Unless the window is in
// front now or comes forward within ARRIVAL_NOTICE_DELAY, a desktop notification names it, and
// clicking it brings the window forward. Documents printed while it is up update it; it goes
// away once the window is in front. UI thread.
void notice_printed_document(std::u16string_view path);
