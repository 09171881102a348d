#include "capture/line_shaping.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace lintrel {
namespace {

// Where a character of the line being shaped came from: the control map acts only on
// characters received as they are.
enum class Origin : uint8_t { kReceived, kEndCharacter, kReplacement };

struct ShapedChar {
  uint8_t byte;
  Origin origin;
};

using ShapedText = std::vector<ShapedChar>;

constexpr std::array<std::string_view, 32> kControlNames = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

bool IsControl(uint8_t byte) { return byte < 0x20 || byte == 0x7F; }

std::string_view ControlName(uint8_t byte) { return byte == 0x7F ? "DEL" : kControlNames[byte]; }

bool MatchesAt(const ShapedText& text, std::size_t at, std::string_view from) {
  if (text.size() - at < from.size()) return false;
  for (std::size_t i = 0; i < from.size(); ++i) {
    if (text[at + i].byte != static_cast<uint8_t>(from[i])) return false;
  }
  return true;
}

// Every occurrence of the replacement's text, left to right, never overlapping; what was
// put in is not searched again by the same replacement.
ShapedText Replace(const ShapedText& text, const Replacement& replacement) {
  ShapedText out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    if (MatchesAt(text, at, replacement.from)) {
      for (const char c : replacement.to) out.push_back({static_cast<uint8_t>(c), Origin::kReplacement});
      at += replacement.from.size();
    } else {
      out.push_back(text[at++]);
    }
  }
  return out;
}

void AppendMapped(const ShapedChar& c, ControlMap map, std::vector<uint8_t>& keys) {
  if (c.origin != Origin::kReceived || !IsControl(c.byte) || map == ControlMap::kKeep) {
    keys.push_back(c.byte);
  } else if (map == ControlMap::kName) {
    keys.push_back('<');
    const std::string_view name = ControlName(c.byte);
    keys.insert(keys.end(), name.begin(), name.end());
    keys.push_back('>');
  }
}

}  // namespace

std::vector<uint8_t> ShapeLine(const FinishedLine& line, const CaptureOptions& options, const ShapingRules& rules) {
  const std::size_t prefix_length = std::min(line.prefix_length, line.text.size());
  std::span<const uint8_t> body = line.text.subspan(prefix_length);
  const bool ends_with_end_character = line.ended_by_end_character && !body.empty();
  if (options.truncate && ends_with_end_character) body = body.first(body.size() - 1);

  ShapedText text;
  text.reserve(body.size());
  for (std::size_t i = 0; i < body.size(); ++i) {
    const bool end = ends_with_end_character && !options.truncate && i + 1 == body.size();
    text.push_back({body[i], end ? Origin::kEndCharacter : Origin::kReceived});
  }
  for (const Replacement& replacement : rules.replacements) {
    if (!replacement.from.empty()) text = Replace(text, replacement);
  }
  std::vector<uint8_t> shaped;
  shaped.reserve(text.size() + rules.suffix.size());
  for (const ShapedChar& c : text) AppendMapped(c, rules.control, shaped);
  if (shaped.empty() && prefix_length == 0) return {};

  std::vector<uint8_t> keys(line.text.begin(), line.text.begin() + static_cast<std::ptrdiff_t>(prefix_length));
  keys.reserve(prefix_length + rules.prefix_text.size() + shaped.size() + rules.suffix.size());
  keys.insert(keys.end(), rules.prefix_text.begin(), rules.prefix_text.end());
  keys.insert(keys.end(), shaped.begin(), shaped.end());
  keys.insert(keys.end(), rules.suffix.begin(), rules.suffix.end());
  return keys;
}

}  // namespace lintrel
