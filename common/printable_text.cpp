#include "common/printable_text.h"

#include <cstdio>

#include "common/utf8_text.h"

namespace lintrel {

namespace {

void AppendHex(std::string& out, unsigned char byte) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02X", byte);
  out += hex;
}

bool IsC0OrDelete(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

}  // namespace

std::string EscapeControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (IsC0OrDelete(byte)) {
      AppendHex(out, byte);
    } else if (byte == 0xC2 && at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[at + 1]) <= 0x9F) {
      AppendHex(out, byte);
      AppendHex(out, static_cast<unsigned char>(text[++at]));
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

std::string Quoted(std::string_view text) {
  // Built piece by piece: a chain of + here draws a false -Wrestrict from MinGW's GCC.
  std::string quoted;
  quoted.push_back('"');
  std::size_t at = 0;
  while (at < text.size() && at < kMaxQuotedBytes) {
    const std::size_t length = Utf8SequenceLength(text, at);
    if (length == 0) {
      AppendHex(quoted, static_cast<unsigned char>(text[at++]));
    } else {
      quoted.append(EscapeControlCharacters(text.substr(at, length)));
      at += length;
    }
  }
  if (at < text.size()) quoted.append("...");
  quoted.push_back('"');
  return quoted;
}

}  // namespace lintrel
