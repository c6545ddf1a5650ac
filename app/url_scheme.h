// Registering this executable as the user's handler of telvanaprinter:// URLs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The MIME type under which desktops look up the handler of the scheme.
inline constexpr std::string_view URL_SCHEME_MIME_TYPE = "x-scheme-handler/telvanaprinter";
// File name of the desktop entry.
inline constexpr std::string_view URL_SCHEME_DESKTOP_FILE = "telvanaprinter.desktop";

// The command text: the executable (in double quotes when it holds characters that desktop
// entries reserve), a space and %u, which the desktop replaces with the URL.
std::string url_scheme_command(std::string_view executable);

// The whole desktop entry for the command text.
std::string url_scheme_desktop_entry(std::string_view command);

// mimeapps.list text with the scheme's default set to the desktop entry under
// [Default Applications]; every other line of existing is kept as it was.
std::string mimeapps_with_scheme_default(std::string_view existing);

// Where the registration goes: the applications folder of the user's data folder and the user's
// config folder, from XDG_DATA_HOME and XDG_CONFIG_HOME (absolute values only), else from HOME.
struct UrlSchemeFolders {
  std::string applications;
  std::string config;
};
std::optional<UrlSchemeFolders> url_scheme_folders();

// Writes the desktop entry and the mimeapps.list default for the running executable (rewritten
// at every first-instance start, so they follow a moved executable) and logs
// "[scheme] Registered telvanaprinter:// -> <command>", also when writing failed.
void register_url_scheme();
