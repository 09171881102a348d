#pragma once

#include <cstdio>
#include <istream>
#include <memory>
#include <mutex>

#include "app/cli/cli_options.h"
#include "capture/line_monitor.h"
#include "platform/keyboard.h"
#include "platform/layout_keymap.h"

namespace lintrel::cli {

// --preview: reads lines from `in` (one a line, with the escapes of shaping) and writes to
// `out` what the port's options make of each: its fields and the keys it would type, or
// why it would not be typed. Opens no port and types nothing. Returns the exit status: 0,
// or 1 when `out` could not be written.
int RunPreview(const CliOptions& options, std::istream& in, std::FILE* out);

// --monitor: every chunk and line the readers see, written to a stream, one report after
// another; no line is handed to the typist. A stream that takes nothing for a while (a
// paused terminal) loses reports rather than holding up the readers.
class MonitorPrinter : public LineMonitor {
 public:
  explicit MonitorPrinter(std::FILE* out) : out_(out) {}

  void ChunkReceived(int port_number, std::chrono::system_clock::time_point when,
                     std::span<const uint8_t> bytes) override;
  void LineFinished(int port_number, std::chrono::system_clock::time_point when, const FinishedLine& line,
                    const LineResult& result) override;
  bool LinesAreTyped() const override { return false; }

 private:
  std::mutex mutex_;  // readers of several ports report at once
  std::FILE* out_;
};

// The keyboard of --monitor: it types nothing, so that no line can be typed even by
// mistake.
class NoKeyboard : public platform::Keyboard {
 public:
  NoKeyboard();
  platform::KeyboardState ReadState() override;
  platform::KeyOutputResult TypeKeys(std::span<const platform::KeyEvent> events) override;

 private:
  platform::LayoutKeymap layout_;
};

}  // namespace lintrel::cli
