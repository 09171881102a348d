#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lintrel {

// `text` with every control character written out, for a message that shows a device path
// or a system's reason: a path holding a line break must not start a line of its own, nor
// an escape sequence steer the terminal. C0 controls and DEL become \n, \r, \t or \xHH;
// a C1 control in UTF-8 (U+0080..U+009F, the bytes C2 80..C2 9F) becomes \xC2\xHH. Every
// other byte, UTF-8 text and backslashes included, stays as it is.
std::string EscapeControlCharacters(std::string_view text);

// `text` in double quotes for a message: control characters written out as above and each
// byte that is no UTF-8 as \xHH, so that the message is UTF-8 text of one line; a text of
// more than kMaxQuotedBytes is cut there (at a character's start) and "..." follows.
std::string Quoted(std::string_view text);
inline constexpr std::size_t kMaxQuotedBytes = 40;

}  // namespace lintrel
