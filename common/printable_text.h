#pragma once

#include <string>
#include <string_view>

namespace lintrel {

// `text` with every control character written out, for a message that shows a device path
// or a system's reason: a path holding a line break must not start a line of its own, nor
// an escape sequence steer the terminal. C0 controls and DEL become \n, \r, \t or \xHH;
// a C1 control in UTF-8 (U+0080..U+009F, the bytes C2 80..C2 9F) becomes \xC2\xHH. Every
// other byte, UTF-8 text and backslashes included, stays as it is.
std::string EscapeControlCharacters(std::string_view text);

}  // namespace lintrel
