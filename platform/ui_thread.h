// Handing work to the UI thread (the thread running the GLib default main context).
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace ui_thread_queue {

// A posted task of any callable type, owned by the queue.
struct Task {
  virtual ~Task() = default;
  virtual void run() = 0;
};

template <class Callable>
struct TaskOf final : Task {
  explicit TaskOf(Callable&& callable) : callable(std::move(callable)) {}
  void run() override { callable(); }
  Callable callable;
};

// Queues task to run once on the UI thread; it is freed there after it ran, or unrun when its
// loop goes first. Through post_to_ui_thread only.
void queue_task(std::unique_ptr<Task> task);

}  // namespace ui_thread_queue

// Queues task() on the UI thread and returns at once, from any thread (the UI thread included:
// the task then runs on a later loop iteration, never inside this call). Tasks posted by one
// thread run in the order posted. The task may be move-only; what it captured goes with it and
// is freed with it, on the UI thread.
template <class Callable>
void post_to_ui_thread(Callable task) {
  ui_thread_queue::queue_task(std::make_unique<ui_thread_queue::TaskOf<Callable>>(std::move(task)));
}

// Marks the calling thread as the UI thread; start-up calls it once.
void set_ui_thread();

// True on the UI thread.
bool on_ui_thread();

// A routine of a higher layer that takes one result on the UI thread. The layer above hands it
// down with the request (a worker's, the watcher's), so the poster need not know who takes it.
template <class Result>
using Delivery = void (*)(std::unique_ptr<Result> result);

// Posts deliver(result) to the UI thread; the result goes with the post, and is freed unread
// when the post is dropped.
template <class Result>
void post_result(Delivery<Result> deliver, std::unique_ptr<Result> result) {
  post_to_ui_thread(
      [deliver, result = std::move(result)]() mutable { deliver(std::move(result)); });
}
