#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lintrel {

// Text typed by the user with C-style escapes: \t, \r, \n, \\, \xHH (two hex digits, one
// byte) and \u{H...} (one to six hex digits, a Unicode code point written as UTF-8). Any
// other character stands for itself.
//
// Returns the bytes, or nullopt with *error saying which escape is wrong ("\q is not an
// escape"): a wrong escape is never typed as it stands.
std::optional<std::string> ParseEscapes(std::string_view text, std::string* error);

// The inverse: backslash and every control character (C0, DEL, and a UTF-8 C1 control as its
// two bytes) written as escapes, so that ParseEscapes(FormatEscapes(bytes)) == bytes and the
// text holds no control character.
std::string FormatEscapes(std::string_view bytes);

}  // namespace lintrel
