#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace lintrel::discovery_text {

// ASCII case folding only: port names and registry texts are compared the way the C
// locale compares them, whatever the user's locale.
inline char ToUpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string ToUpperAscii(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return ToUpperAscii(c); });
  return upper;
}

inline bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// A registry string's data as text: the bytes up to the first zero byte, or all of them
// when the data carries no terminating zero.
inline std::string RegistryDataText(std::string_view data) {
  return std::string(data.substr(0, data.find('\0')));
}

}  // namespace lintrel::discovery_text
