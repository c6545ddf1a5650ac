// Waiting for a condition in the tests, never for a length of time.
#pragma once

#include <chrono>
#include <ctime>

// Polls predicate every 20 ms until it holds or timeout passes; returns its last value.
template <class Predicate>
bool wait_until(Predicate predicate, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() >= deadline) return predicate();
    struct timespec pause {
      0, 20 * 1000 * 1000
    };
    nanosleep(&pause, nullptr);
  }
  return true;
}
