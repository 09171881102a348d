#include "capture/line_shaping.h"

namespace lintrel {

std::vector<uint8_t> ShapeLine(const FinishedLine& line, const CaptureOptions& options) {
  std::span<const uint8_t> typed = line.text;
  if (options.truncate && line.ended_by_end_character && !typed.empty()) typed = typed.first(typed.size() - 1);
  return {typed.begin(), typed.end()};
}

}  // namespace lintrel
