// Handing work to the UI thread (the thread running the GLib default main context).
#pragma once

// A routine run on the UI thread with the record that was posted to it; it owns the record.
using UiTask = void (*)(void* record);

// Queues task(record) on the UI thread and returns at once, from any thread (the UI thread
// included: the task then runs on a later loop iteration, never inside this call). Tasks posted
// by one thread run in the order posted. Ownership of record passes with the post.
void post_to_ui_thread(UiTask task, void* record);

// Marks the calling thread as the UI thread; start-up calls it once.
void set_ui_thread();

// True on the UI thread.
bool on_ui_thread();
