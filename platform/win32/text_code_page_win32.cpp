#include <windows.h>

#include <optional>

#include "platform/text_code_page.h"

namespace lintrel::platform {
namespace {

// Each byte through MultiByteToWideChar with the ANSI code page; a byte that is no
// character alone (a lead byte of a double-byte code page, an unassigned one) is U+FFFD.
std::optional<CodePage> ReadAnsiCodePage() {
  CPINFO info{};
  if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize != 1) return std::nullopt;
  CodePage table{};
  for (int byte = 0; byte < 256; ++byte) {
    const char in = static_cast<char>(byte);
    wchar_t out = 0;
    const int written = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &in, 1, &out, 1);
    table[byte] = written == 1 ? static_cast<char32_t>(out) : 0xFFFD;
  }
  return table;
}

}  // namespace

TextEncoding DefaultTextEncoding() { return TextEncoding::kAnsi; }

const CodePage* SystemCodePage() {
  static const std::optional<CodePage> table = ReadAnsiCodePage();
  return table ? &*table : nullptr;
}

}  // namespace lintrel::platform
