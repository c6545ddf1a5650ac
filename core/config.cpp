// Output folder rule, app version and the process-wide configuration.
#include "core/config.h"

#include <cstdlib>

#include "core/text.h"

namespace {

AppConfig process_config;

// The variable's value when it is set and not empty.
std::optional<std::string> non_empty_env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

}  // namespace

std::string resolve_output_folder() {
  if (auto dir = non_empty_env("TELVANA_OUTPUT_DIR")) return *dir;
  if (auto dir = non_empty_env("APPDATA")) return *dir + "/TelvanaPrint";
  if (auto dir = non_empty_env("LOCALAPPDATA")) return *dir + "/TelvanaPrint";
  // The user's roaming data folder on a Linux desktop.
  if (auto dir = non_empty_env("XDG_DATA_HOME")) return *dir + "/TelvanaPrint";
  if (auto dir = non_empty_env("HOME")) return *dir + "/.local/share/TelvanaPrint";
  return "TelvanaPrint";
}

FolderPath folder_path(std::string utf8) {
  std::u16string wide = *utf8_to_wide(utf8);
  return FolderPath{std::move(utf8), std::move(wide)};
}

std::u16string format_app_version(std::optional<AppVersion> version) {
  if (!version) return u"unknown";
  const std::string text = std::to_string(version->major) + "." + std::to_string(version->minor) +
                           "." + std::to_string(version->build);
  return std::u16string(text.begin(), text.end());
}

std::optional<AppVersion> compiled_app_version() {
#if defined(TELVANA_VERSION_MAJOR) && defined(TELVANA_VERSION_MINOR) && \
    defined(TELVANA_VERSION_PATCH)
  AppVersion version;
  version.major = TELVANA_VERSION_MAJOR + 0u;
  version.minor = TELVANA_VERSION_MINOR + 0u;
  version.build = TELVANA_VERSION_PATCH + 0u;
  return version;
#else
  return std::nullopt;
#endif
}

const AppConfig& app_config() {
  return process_config;
}

void set_app_config(AppConfig config) {
  process_config = std::move(config);
}
