// Process-wide configuration fixed at start-up: folders, version, hidden flag. The printer, the
// watcher, the file operations and the upload all read the output folder from app_config().
#pragma once

#include <optional>
#include <string>

struct AppVersion {
  unsigned major = 0, minor = 0, build = 0, revision = 0;
};

// The output folder by the first rule that applies: TELVANA_OUTPUT_DIR, then APPDATA and
// LOCALAPPDATA (each + "/TelvanaPrint"), then XDG_DATA_HOME and HOME/.local/share (likewise),
// then the relative "TelvanaPrint". Empty values fall through. Start-up resolves it once.
std::string resolve_output_folder();

// A folder in the two forms the program uses: UTF-8 as the OS takes it, UTF-16 for the page and
// the log. The wide form is made from the UTF-8 one, never the other way round, so that both
// name the same folder whatever bytes the name holds.
struct FolderPath {
  std::string utf8;
  std::u16string wide;
};

// The folder utf8 in both forms.
FolderPath folder_path(std::string utf8);

// "%u.%u.%u" of major, minor and build; "unknown" when no version is known.
std::u16string format_app_version(std::optional<AppVersion> version);

// The version compiled in from the project's VERSION, when one is set.
std::optional<AppVersion> compiled_app_version();

// Process-wide values, written once on the UI thread before other threads start.
struct AppConfig {
  bool hidden = false;
  FolderPath ui_folder;
  FolderPath output_folder;
  std::u16string app_version = u"unknown";
};

// Read-only access to the process-wide values.
const AppConfig& app_config();

// Sets the process-wide values; only start-up (and tests) call it.
void set_app_config(AppConfig config);
