// The escape parsers on arbitrary text: a user's text (ParseEscapes), a stored text of this
// or an older version (ParseStoredText, with and without a code page), and FROM=TO
// replacements.
//
// Traps when a parse gives text that is not UTF-8, when what is formatted for showing or
// for storing does not read back as the same characters, when a stored text holds anything
// but printable ASCII, or when a replacement does not read back from its own text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/code_page.h"
#include "common/text_escapes.h"
#include "common/utf8_text.h"
#include "fuzz/fuzz_input.h"
#include "settings/shaping_rules.h"

namespace {

using lintrel::fuzz::Require;

bool IsPrintableAscii(std::string_view text) {
  for (const char c : text) {
    if (c < 0x20 || c >= 0x7F) return false;
  }
  return true;
}

void CheckCharacters(const std::string& characters) {
  Require(lintrel::IsUtf8(characters));
  std::string error;
  Require(lintrel::ParseEscapes(lintrel::FormatEscapes(characters), &error) == characters);
  const std::string stored = lintrel::FormatStoredText(characters);
  Require(IsPrintableAscii(stored));
  Require(lintrel::ParseStoredText(stored, nullptr, &error) == characters);
  Require(lintrel::ParseStoredText(stored, &lintrel::Windows1252CodePage(), &error) == characters);
}

void CheckReplacement(std::string_view text) {
  std::string error;
  const std::optional<lintrel::Replacement> replacement = lintrel::ParseReplacement(text, &error);
  if (!replacement) {
    Require(!error.empty());
    return;
  }
  Require(!replacement->from.empty());
  Require(lintrel::ParseReplacement(lintrel::FormatReplacement(*replacement), &error) == replacement);
  const std::string stored = lintrel::FormatStoredReplacement(*replacement);
  Require(IsPrintableAscii(stored));
  Require(lintrel::ParseStoredReplacement(stored, &lintrel::Windows1252CodePage(), &error) == replacement);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (const std::optional<std::string> characters = lintrel::ParseEscapes(text, &error)) {
    CheckCharacters(*characters);
  } else {
    Require(!error.empty());
  }
  // Whatever a store gives back, read as an older version's text.
  for (const lintrel::CodePage* code_page : {static_cast<const lintrel::CodePage*>(nullptr),
                                             &lintrel::Windows1252CodePage()}) {
    if (const std::optional<std::string> characters = lintrel::ParseStoredText(text, code_page, &error)) {
      CheckCharacters(*characters);
    }
  }
  CheckReplacement(text);
  return 0;
}
