#pragma once

#include <string_view>

namespace lintrel {

// `text` without the blanks (space, tab, carriage return, line feed) at its ends.
constexpr std::string_view Trim(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  while (!text.empty() && kBlanks.find(text.front()) != std::string_view::npos) text.remove_prefix(1);
  while (!text.empty() && kBlanks.find(text.back()) != std::string_view::npos) text.remove_suffix(1);
  return text;
}

}  // namespace lintrel
