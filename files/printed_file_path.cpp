// Recognising paths inside the output folder.
#include "files/printed_file_path.h"

#include "app/config.h"
#include "bridge/text.h"

std::optional<std::string> printed_file_name(std::u16string_view path) {
  std::u16string_view folder = app_config().output_folder;
  while (folder.size() > 1 && folder.back() == u'/') folder.remove_suffix(1);
  if (folder.empty() || path.size() <= folder.size() + 1) return std::nullopt;
  if (path.substr(0, folder.size()) != folder || path[folder.size()] != u'/') return std::nullopt;
  const std::u16string_view name = path.substr(folder.size() + 1);
  if (name == u"." || name == u".." || name.find(u'/') != std::u16string_view::npos ||
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
