#include "capture/line_shaping.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "capture/text_decoding.h"
#include "common/control_characters.h"
#include "common/utf8_text.h"

namespace lintrel {
namespace {

// Where a character of the line being shaped came from: the control map acts only on
// characters received as they are.
enum class Origin : uint8_t { kReceived, kEndCharacter, kReplacement };

struct ShapedChar {
  char32_t character;
  Origin origin;
};

using ShapedText = std::vector<ShapedChar>;

bool MatchesAt(const ShapedText& text, std::size_t at, std::u32string_view from) {
  if (text.size() - at < from.size()) return false;
  for (std::size_t i = 0; i < from.size(); ++i) {
    if (text[at + i].character != from[i]) return false;
  }
  return true;
}

std::string TooLongReason() {
  return "shaping makes it longer than " + std::to_string(kMaxShapedLineLength) + " characters";
}

// Every occurrence of the replacement's text, left to right, never overlapping; what was
// put in is not searched again by the same replacement. False, with `text` left as it was,
// when the result would be longer than kMaxShapedLineLength.
bool Replace(ShapedText& text, const Replacement& replacement) {
  const std::u32string from = DecodeUtf8(replacement.from);
  const std::u32string to = DecodeUtf8(replacement.to);
  ShapedText out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    if (MatchesAt(text, at, from)) {
      if (out.size() + to.size() > kMaxShapedLineLength) return false;
      for (const char32_t c : to) out.push_back({c, Origin::kReplacement});
      at += from.size();
    } else {
      out.push_back(text[at++]);
    }
  }
  text = std::move(out);
  return true;
}

void AppendMapped(const ShapedChar& c, ControlMap map, std::u32string& out) {
  if (c.origin != Origin::kReceived || !IsAsciiControl(c.character) || map == ControlMap::kKeep) {
    out.push_back(c.character);
  } else if (map == ControlMap::kName) {
    out.push_back('<');
    for (const char letter : AsciiControlName(c.character)) out.push_back(static_cast<char32_t>(letter));
    out.push_back('>');
  }
}

}  // namespace

ShapedLine ShapeLine(const FinishedLine& line, const CaptureOptions& options, const CodePage* ansi,
                     const ShapingRules& rules) {
  // The port-name prefix is ASCII: as many characters as bytes in every encoding.
  const std::size_t prefix_bytes = std::min(line.prefix_length, line.text.size());
  const std::u32string prefix = DecodeText(line.text.first(prefix_bytes), options.encoding, ansi);
  std::u32string body = DecodeText(line.text.subspan(prefix_bytes), options.encoding, ansi);
  const bool ends_with_end_character = line.ended_by_end_character && !body.empty();
  if (options.truncate && ends_with_end_character) body.pop_back();

  ShapedText text;
  text.reserve(body.size());
  for (std::size_t i = 0; i < body.size(); ++i) {
    const bool end = ends_with_end_character && !options.truncate && i + 1 == body.size();
    text.push_back({body[i], end ? Origin::kEndCharacter : Origin::kReceived});
  }
  for (const Replacement& replacement : rules.replacements) {
    if (!replacement.from.empty() && !Replace(text, replacement)) return {.keys = {}, .refusal = TooLongReason()};
  }
  std::u32string shaped;
  shaped.reserve(text.size());
  for (const ShapedChar& c : text) AppendMapped(c, rules.control, shaped);
  if (shaped.empty()) return {.keys = prefix, .refusal = {}};
  std::u32string keys = prefix + DecodeUtf8(rules.prefix_text) + shaped + DecodeUtf8(rules.suffix);
  if (keys.size() > kMaxShapedLineLength) return {.keys = {}, .refusal = TooLongReason()};
  return {.keys = std::move(keys), .refusal = {}};
}

}  // namespace lintrel
