// Recognising paths inside the output folder.
#include "files/printed_file_path.h"

#include "core/config.h"
#include "core/text.h"

std::optional<std::string> printed_file_name(std::u16string_view path) {
  const std::u16string_view configured = app_config().output_folder;
  if (configured.empty()) return std::nullopt;
  // Paths are composed as the configured folder, '/' and the name, so a folder given with a
  // trailing '/' (or as "/" itself) yields more than one separator before the name.
  std::u16string_view folder = configured;
  while (!folder.empty() && folder.back() == u'/') folder.remove_suffix(1);
  if (path.substr(0, folder.size()) != folder) return std::nullopt;
  std::u16string_view name = path.substr(folder.size());
  if (name.empty() || name.front() != u'/') return std::nullopt;
  while (!name.empty() && name.front() == u'/') name.remove_prefix(1);
  if (name.empty() || name == u"." || name == u".." ||
      name.find(u'/') != std::u16string_view::npos ||
      name.find(u'\0') != std::u16string_view::npos) {
    return std::nullopt;
  }
  // A lone surrogate has no UTF-8 form: such a name cannot be one the printer wrote.
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t unit = name[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
        name[i + 1] <= 0xDFFF) {
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      return std::nullopt;
    }
  }
  return wide_to_utf8(name);
}

bool is_pdf_name(std::string_view name) {
  constexpr std::string_view extension = ".pdf";
  if (name.size() <= extension.size()) return false;
  const std::string_view tail = name.substr(name.size() - extension.size());
  for (std::size_t i = 0; i < extension.size(); ++i) {
    char c = tail[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != extension[i]) return false;
  }
  return true;
}
