// Line shaping under each encoding with random rules.
//
// The input is decoded as:
//   byte 0     encoding (modulo 3: ansi, utf-8, latin-1)
//   byte 1     flags: bit 0 truncate, bit 1 ended by the end character, bits 2-3 control map
//   byte 2     number of replacements (modulo 9), then FROM and TO of each as fields
//   then       the prefix text and the suffix as fields, then the line's bytes (at most 1023)
// A field is a length byte and that many bytes, read as UTF-8 (a broken piece U+FFFD), as
// every rule text is characters.
//
// Traps when shaping throws, when a line is both typed and refused, when a typed line is
// longer than the limit, when a line with no rules is not its decoded characters, or when a
// character that could not be decoded (U+FFFD) is matched, lost or made by rules that never
// name U+FFFD.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "capture/line_buffer.h"
#include "capture/line_shaping.h"
#include "capture/text_decoding.h"
#include "common/utf8_text.h"
#include "fuzz/fuzz_input.h"

namespace {

using lintrel::fuzz::InputReader;
using lintrel::fuzz::Require;

constexpr lintrel::TextEncoding kEncodings[] = {lintrel::TextEncoding::kAnsi, lintrel::TextEncoding::kUtf8,
                                                lintrel::TextEncoding::kLatin1};
constexpr lintrel::ControlMap kControlMaps[] = {lintrel::ControlMap::kKeep, lintrel::ControlMap::kDrop,
                                                lintrel::ControlMap::kName, lintrel::ControlMap::kKeep};

// A field as characters, the way every rule text reaches shaping.
std::string CharacterField(InputReader& input) {
  std::string text;
  for (const char32_t c : lintrel::DecodeUtf8(input.Field())) text += lintrel::EncodeUtf8(c);
  return text;
}

bool NamesReplacementCharacter(const std::string& text) {
  return lintrel::DecodeUtf8(text).find(lintrel::kReplacementCharacter) != std::u32string::npos;
}

std::size_t CountReplacementCharacters(const std::u32string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), lintrel::kReplacementCharacter));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  InputReader input(std::span<const uint8_t>(data, size));
  lintrel::CaptureOptions options;
  options.encoding = kEncodings[input.Byte() % 3];
  const uint8_t flags = input.Byte();
  options.truncate = (flags & 1) != 0;
  const bool ended = (flags & 2) != 0;
  lintrel::ShapingRules rules;
  rules.control = kControlMaps[(flags >> 2) & 3];
  const std::size_t replacement_count = input.Byte() % 9;
  bool rules_name_fffd = false;
  for (std::size_t i = 0; i < replacement_count; ++i) {
    lintrel::Replacement replacement{CharacterField(input), CharacterField(input)};
    rules_name_fffd = rules_name_fffd || NamesReplacementCharacter(replacement.from) ||
                      NamesReplacementCharacter(replacement.to);
    rules.replacements.push_back(std::move(replacement));
  }
  rules.prefix_text = CharacterField(input);
  rules.suffix = CharacterField(input);
  rules_name_fffd =
      rules_name_fffd || NamesReplacementCharacter(rules.prefix_text) || NamesReplacementCharacter(rules.suffix);
  std::span<const uint8_t> bytes = input.Bytes(lintrel::LineBuffer::kCapacity);
  if (bytes.empty()) return 0;
  if (ended) options.end_character = bytes.back() >= 1 && bytes.back() <= 31 ? bytes.back() : options.end_character;
  const lintrel::FinishedLine line{bytes, ended && bytes.back() == options.end_character, 0};

  const lintrel::ShapedLine shaped = lintrel::ShapeLine(line, options, nullptr, rules);
  Require(shaped.refusal.empty() || shaped.keys.empty());
  Require(shaped.keys.size() <= lintrel::kMaxShapedLineLength);
  const std::u32string decoded = lintrel::DecodeText(bytes, options.encoding, nullptr);
  const bool no_rules = rules.replacements.empty() && rules.prefix_text.empty() && rules.suffix.empty() &&
                        rules.control == lintrel::ControlMap::kKeep;
  if (no_rules && !options.truncate) Require(shaped.refusal.empty() && shaped.keys == decoded);
  // U+FFFD is never a control character nor the end character: rules that do not name it
  // keep every one, unless they empty the line or refuse it.
  if (!rules_name_fffd && shaped.refusal.empty() && !shaped.keys.empty()) {
    Require(CountReplacementCharacters(shaped.keys) == CountReplacementCharacters(decoded));
  }
  return 0;
}
