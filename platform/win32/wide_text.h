#pragma once

#include <string>
#include <string_view>

namespace lintrel::platform {

// The one text boundary on Windows: inside the program every text is UTF-8; the system's W
// functions take and give UTF-16, converted here and nowhere else. A piece that is not
// well-formed (broken UTF-8, an unpaired surrogate) becomes U+FFFD, never a character of
// some code page.
std::wstring WideText(std::string_view utf8);
std::string Utf8Text(std::wstring_view wide);

}  // namespace lintrel::platform
