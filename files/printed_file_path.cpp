// Recognising paths inside the output folder.
#include "files/printed_file_path.h"

#include "core/ascii_case.h"
#include "core/config.h"
#include "core/text.h"

std::optional<std::string> printed_file_name(std::u16string_view path) {
  const std::u16string_view configured = app_config().output_folder.wide;
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
  for (std::size_t i = 0; i < name.size();) {
    const TextStep step = decode_utf16_at(name, i);
    if (!step.valid) return std::nullopt;
    i += step.length;
  }
  return wide_to_utf8(name);
}

namespace {

constexpr std::string_view PDF_EXTENSION = ".pdf";

}  // namespace

bool matches_pdf_pattern(std::string_view name) {
  return ends_with_ignoring_case(name, PDF_EXTENSION);
}

bool is_pdf_name(std::string_view name) {
  return name.size() > PDF_EXTENSION.size() && matches_pdf_pattern(name);
}
