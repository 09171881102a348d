#pragma once

#include <string>

#include "capture/line_buffer.h"
#include "settings/capture_options.h"
#include "settings/shaping_rules.h"
#include "settings/text_encoding.h"

namespace lintrel {

// What is typed for a finished line: the one place between line assembly and typing where
// a line's characters are decided from the options in force. Pure: the same line, options
// and rules always give the same characters.
//
// In this order:
// 1. The bytes are decoded as characters (options.encoding, `ansi` the system's code page,
//    see DecodeText).
// 2. With truncation on, a line that an end character finished loses that character; a
//    line cut because it was full keeps every character.
// 3. The replacements, one after another over the whole result of the one before.
// 4. The control map, on the control characters (C0 and DEL) received from the device: not
//    on the end character and not on what a replacement put in (a replacement that turns
//    GS into Tab means a Tab).
// 5. The prefix text before, the suffix after.
// The port-name prefix stays first and is never replaced or mapped. A line that is empty
// after step 4 types no prefix text and no suffix: nothing at all, or the port name alone.
//
// The rules' texts are characters, matched against the decoded characters: a byte that is
// no character of the encoding (U+FFFD) is matched only by a rule that names U+FFFD itself.
//
// Replacements can make a line grow without bound (a=aa, then aa=aaaa, ...): a line longer
// than kMaxShapedLineLength characters is refused whole, with its reason, before it is
// built further.
struct ShapedLine {
  std::u32string keys;  // what is typed; empty: nothing
  std::string refusal;  // why nothing of the line is typed; empty when it is not refused
};

// The most characters a shaped line may have: the typist's whole queue.
inline constexpr std::size_t kMaxShapedLineLength = 64 * 1024;

ShapedLine ShapeLine(const FinishedLine& line, const CaptureOptions& options, const CodePage* ansi = nullptr,
                     const ShapingRules& rules = {});

}  // namespace lintrel
