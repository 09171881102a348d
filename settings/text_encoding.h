#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/code_page.h"

namespace lintrel {

// How the bytes of a received line are read as characters before they are typed.
enum class TextEncoding : uint8_t {
  // The system's single-byte code page ("ANSI"; Windows-1252 where the system has none).
  kAnsi,
  kUtf8,
  // ISO 8859-1: every byte the character of the same number.
  kLatin1,
};

// "ansi", "utf-8", "latin-1".
std::string_view TextEncodingName(TextEncoding encoding);
// The encoding of a name as TextEncodingName() writes it (any case; "utf8" and "latin1"
// too); empty for anything else.
std::optional<TextEncoding> ParseTextEncoding(std::string_view name);

}  // namespace lintrel
