// Crash reporting: sentry-native when built with it, otherwise the built-in reporter.
#pragma once

#include <string>

// Starts crash reporting with the release "telvana-printer@<version>" and the environment
// "production". The built-in reporter writes its reports into <output_folder>/crash-reports/.
void crash_reporter_init(const std::string& release, const std::string& output_folder);

// Stops crash reporting (flushes sentry; restores the default fatal-signal handlers).
void crash_reporter_close();
