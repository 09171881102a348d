#include "capture/line_shaping.h"

#include "capture/text_decoding.h"

namespace lintrel {

std::u32string ShapeLine(const FinishedLine& line, const CaptureOptions& options, const CodePage* ansi) {
  std::u32string text = DecodeText(line.text, options.encoding, ansi);
  if (options.truncate && line.ended_by_end_character && !text.empty()) text.pop_back();
  return text;
}

}  // namespace lintrel
