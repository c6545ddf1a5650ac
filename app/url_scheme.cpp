// The desktop entry and the mimeapps.list default that make the desktop start us for the scheme.
#include "app/url_scheme.h"

#include <glib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/folders.h"
#include "core/log.h"
#include "core/text.h"

namespace {

constexpr std::string_view DEFAULTS_GROUP = "[Default Applications]";

std::string trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool is_scheme_key_line(const std::string& line) {
  const std::size_t equals = line.find('=');
  return equals != std::string::npos && trim(line.substr(0, equals)) == URL_SCHEME_MIME_TYPE;
}

std::optional<std::string> absolute_env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return std::string(value);
}

bool write_file(const std::string& path, const std::string& text) {
  GError* error = nullptr;
  if (g_file_set_contents(path.c_str(), text.data(), static_cast<gssize>(text.size()), &error)) {
    return true;
  }
  log_printf(u"[scheme] Cannot write %s: %s", path, std::string(error->message));
  g_error_free(error);
  return false;
}

bool make_folder(const std::string& path) {
  if (create_folder_with_parents(path)) return true;
  log_printf(u"[scheme] Cannot create %s: %s", path, std::string(g_strerror(errno)));
  return false;
}

}  // namespace

std::string url_scheme_command(std::string_view executable) {
  // A path without the characters that desktop entries reserve goes in bare: the generic
  // launcher of xdg-open takes the Exec's first word literally and cannot start a quoted one.
  // Otherwise it goes in double quotes, with ", `, $ and \ escaped by a backslash. Either way a
  // literal % is doubled.
  const bool needs_quotes =
      executable.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string_view::npos;
  std::string command = needs_quotes ? "\"" : "";
  for (const char c : executable) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') command.push_back('\\');
    command.push_back(c);
    if (c == '%') command.push_back('%');
  }
  command += needs_quotes ? "\" %u" : " %u";
  return command;
}

std::string url_scheme_desktop_entry(std::string_view command) {
  // The key file's own string escapes come on top of the Exec quoting.
  const std::string exec =
      escape_characters(command, {{'\\', "\\\\"}, {'\n', "\\n"}, {'\r', "\\r"}, {'\t', "\\t"}});
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Telvana Print-to-Fax\n"
         "Exec=" +
         exec +
         "\n"
         "MimeType=" +
         std::string(URL_SCHEME_MIME_TYPE) +
         ";\n"
         "NoDisplay=true\n"
         "Terminal=false\n"
         // The launch then carries an activation token, which the hand-off passes on.
         "StartupNotify=true\n";
}

std::string mimeapps_with_scheme_default(std::string_view existing) {
  const std::string entry =
      std::string(URL_SCHEME_MIME_TYPE) + "=" + std::string(URL_SCHEME_DESKTOP_FILE);
  std::vector<std::string> lines = split_lines(existing);
  std::vector<std::string> out;
  bool in_defaults = false;
  bool written = false;
  for (const std::string& line : lines) {
    const std::string trimmed = trim(line);
    if (!trimmed.empty() && trimmed.front() == '[') {
      in_defaults = trimmed == DEFAULTS_GROUP;
      out.push_back(line);
      // The entry goes first in the group, so one group header suffices wherever it stands.
      if (in_defaults && !written) {
        out.push_back(entry);
        written = true;
      }
      continue;
    }
    // An earlier value of ours, in any [Default Applications] group, is replaced.
    if (in_defaults && is_scheme_key_line(line)) continue;
    out.push_back(line);
  }
  std::string text;
  for (const std::string& line : out) text += line + "\n";
  if (!written) {
    if (!text.empty() && text != "\n" && !text.ends_with("\n\n")) text += "\n";
    text += std::string(DEFAULTS_GROUP) + "\n" + entry + "\n";
  }
  return text;
}

std::optional<UrlSchemeFolders> url_scheme_folders() {
  const std::optional<std::string> home = absolute_env("HOME");
  std::optional<std::string> data = absolute_env("XDG_DATA_HOME");
  std::optional<std::string> config = absolute_env("XDG_CONFIG_HOME");
  if (!data && home) data = *home + "/.local/share";
  if (!config && home) config = *home + "/.config";
  if (!data || !config) return std::nullopt;
  return UrlSchemeFolders{*data + "/applications", *config};
}

void register_url_scheme() {
  const std::optional<std::string> executable = executable_path();
  const std::string command = url_scheme_command(executable.value_or("telvana-print"));
  const std::optional<UrlSchemeFolders> folders = url_scheme_folders();
  if (executable && folders) {
    if (make_folder(folders->applications)) {
      write_file(folders->applications + "/" + std::string(URL_SCHEME_DESKTOP_FILE),
                 url_scheme_desktop_entry(command));
    }
    if (make_folder(folders->config)) {
      std::string list_path = folders->config + "/mimeapps.list";
      // A list kept elsewhere behind a link is updated where it lives, the link kept.
      if (char* real = realpath(list_path.c_str(), nullptr)) {
        list_path = real;
        std::free(real);
      }
      gchar* contents = nullptr;
      gsize length = 0;
      GError* error = nullptr;
      std::string existing;
      bool readable = true;
      if (g_file_get_contents(list_path.c_str(), &contents, &length, &error)) {
        existing.assign(contents, length);
        g_free(contents);
      } else {
        // A list that exists but cannot be read is left alone rather than replaced.
        readable = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
        if (!readable)
          log_printf(u"[scheme] Cannot read %s: %s", list_path, std::string(error->message));
        g_error_free(error);
      }
      if (readable) write_file(list_path, mimeapps_with_scheme_default(existing));
    }
  }
  log_printf(u"[scheme] Registered telvanaprinter:// -> %s", command);
}
