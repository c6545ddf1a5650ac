// Modal message boxes shown on the UI thread.
#pragma once

#include <string_view>

enum class MessageBoxIcon { warning, error };

// Shows a modal box kept above other windows with one OK button and returns when it is closed.
// Called on another thread, the box is shown on the UI thread while the caller waits.
void show_message_box(std::u16string_view text, std::u16string_view caption, MessageBoxIcon icon);

// Shows the same box on the UI thread and returns at once, from any thread: for threads that
// must not wait for the user (the printer's job threads, the watcher).
void post_message_box(std::u16string_view text, std::u16string_view caption, MessageBoxIcon icon);

// Closes the boxes on screen as if their OK were pressed, and lets no later box open: the
// application is ending. UI thread.
void close_message_boxes();

// Replaces the dialog with hook, which receives the texts on the UI thread and stands for the
// user closing the box at once; nullptr restores the dialog. For tests and unattended runs.
using MessageBoxHook = void (*)(std::u16string_view text, std::u16string_view caption,
                                MessageBoxIcon icon);
void set_message_box_hook(MessageBoxHook hook);
