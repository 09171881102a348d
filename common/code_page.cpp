#include "common/code_page.h"

#include <cstddef>

namespace lintrel {
namespace {

// Windows-1252's characters for 0x80..0x9F; U+FFFD for the unassigned bytes.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,  //
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

constexpr CodePage BuildWindows1252() {
  CodePage table{};
  for (std::size_t byte = 0; byte < table.size(); ++byte) table[byte] = static_cast<char32_t>(byte);
  for (std::size_t i = 0; i < 32; ++i) table[0x80 + i] = kWindows1252High[i];
  return table;
}

constexpr CodePage kWindows1252 = BuildWindows1252();

}  // namespace

const CodePage& Windows1252CodePage() { return kWindows1252; }

}  // namespace lintrel
