// The one guard of the tests that open windows: without a display they are skipped.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

// True when the test's environment names a display (DISPLAY set and not empty).
inline bool display_available() {
  const char* display = std::getenv("DISPLAY");
  return display != nullptr && *display != '\0';
}

// Skips the running test when there is no display to open windows on.
#define SKIP_WITHOUT_DISPLAY() \
  if (!display_available()) GTEST_SKIP() << "needs a display (DISPLAY is not set)"
