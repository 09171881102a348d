#pragma once

#include <cstdint>
#include <vector>

#include "capture/line_buffer.h"
#include "settings/capture_options.h"

namespace lintrel {

// What is typed for a finished line: the one place between line assembly and typing where
// a line's keys are decided from the options in force. Pure: the same line and options
// always give the same keys.
//
// The rule today: with truncation on, a line that an end character finished loses that
// character; a line cut because it was full keeps every character. An empty result types
// nothing.
std::vector<uint8_t> ShapeLine(const FinishedLine& line, const CaptureOptions& options);

}  // namespace lintrel
