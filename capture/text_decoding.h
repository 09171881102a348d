#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/code_page.h"
#include "common/utf8_text.h"
#include "settings/text_encoding.h"

namespace lintrel {

// The characters of a line's bytes. UTF-8 is read strictly (no overlong forms, surrogates
// or values above U+10FFFF): each maximal piece that is no character becomes one U+FFFD,
// as the Unicode standard recommends. `ansi` is the system's code page for kAnsi (null:
// Windows-1252).
std::u32string DecodeText(std::span<const uint8_t> bytes, TextEncoding encoding, const CodePage* ansi);

// The bytes that send `text` (UTF-8) in `encoding`, or nullopt and *problem naming the first
// character the encoding lacks ("U+20AC is not in latin-1").
std::optional<std::string> EncodeText(std::string_view text, TextEncoding encoding, const CodePage* ansi,
                                      std::string* problem);

}  // namespace lintrel
