// The reference page (examples/ui) run by the real program, with a script that plays its user.
#pragma once

#include <optional>
#include <string>

#include "tests/support/temp_dir.h"

struct FaxServiceSettings {
  std::string endpoint;  // the upload URL
  std::string token;
};

// Installs a copy of the program in dir beside a ui folder holding the reference page and the
// user-playing script (tests/e2e/pages/e2e-driver.js). With settings the script saves them in the
// page's settings form and uploads every listed document; without, it only reports. Returns the
// copy's path.
std::string install_reference_page(const TempDir& dir,
                                   const std::optional<FaxServiceSettings>& settings);

// The log line the page's console gives for message.
std::string page_line(const std::string& message);
