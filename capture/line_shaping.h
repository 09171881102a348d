#pragma once

#include <string>

#include "capture/line_buffer.h"
#include "settings/capture_options.h"
#include "settings/text_encoding.h"

namespace lintrel {

// What is typed for a finished line: the one place between line assembly and typing where
// a line's characters are decided from the options in force. Pure: the same line and
// options always give the same characters.
//
// The rules, in order: the bytes are decoded as characters (options.encoding, `ansi` the
// system's code page, see DecodeText); with truncation on, a line that an end character
// finished loses its last character, the end character; a line cut because it was full
// keeps every character. An empty result types nothing.
std::u32string ShapeLine(const FinishedLine& line, const CaptureOptions& options, const CodePage* ansi = nullptr);

}  // namespace lintrel
