// Comparing ASCII text without regard to letter case (protocol names, file extensions).
#pragma once

#include <cstddef>
#include <string_view>

// c with A-Z turned into a-z; every other byte unchanged.
constexpr char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether a and b are equal when ASCII letters are compared without regard to case.
constexpr bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

// Whether text begins with prefix, ASCII letters compared without regard to case.
constexpr bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         equals_ignoring_case(text.substr(0, prefix.size()), prefix);
}

// Whether text ends with suffix, ASCII letters compared without regard to case.
constexpr bool ends_with_ignoring_case(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         equals_ignoring_case(text.substr(text.size() - suffix.size()), suffix);
}
