#include "tests/e2e/reference_page.h"

#include <filesystem>

#include "tests/support/app_process.h"

namespace {

// A JSON string literal for text holding no quotes, backslashes or control characters.
std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

}  // namespace

std::string install_reference_page(const TempDir& dir,
                                   const std::optional<FaxServiceSettings>& settings) {
  const std::string source = TELVANA_SOURCE_DIR;
  const std::string exe = install_beside_ui(dir, source + "/examples/ui");
  std::error_code error;
  std::filesystem::copy_file(source + "/tests/e2e/pages/e2e-driver.js", dir / "ui/e2e-driver.js",
                             error);
  write_file(dir / "ui/e2e-settings.js",
             settings ? "window.e2eSettings = {\"endpoint\": " + quoted(settings->endpoint) +
                            ", \"token\": " + quoted(settings->token) + "};\n"
                      : "window.e2eSettings = null;\n");
  // The settings load before the page's own script; the driver runs after it, in order.
  std::string index = read_file(dir / "ui/index.html");
  const std::string page_script = "<script src=\"app.js\" defer></script>";
  const std::size_t at = index.find(page_script);
  if (at != std::string::npos) {
    index.insert(at + page_script.size(),
                 "\n<script src=\"e2e-settings.js\"></script>"
                 "\n<script src=\"e2e-driver.js\" defer></script>");
  }
  write_file(dir / "ui/index.html", index);
  return exe;
}

std::string page_line(const std::string& message) {
  return "[JS] log: " + message + "\n";
}
