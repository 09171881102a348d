#pragma once

#include <cstdio>

#include "platform/keyboard.h"
#include "platform/layout_keymap.h"

namespace lintrel::platform {

// A keyboard that types nothing and writes each key event as one line, "down 0xHH" or
// "up 0xHH" (HH the virtual-key code of a US-English Windows keyboard; Caps Lock off, no
// key held), flushed at the end of every line. A character the US-English layout has no
// key for is written as "down U+HHHH" and "up U+HHHH". A write that fails (a full disk, a pipe whose reader has gone, a
// stream not open for writing) loses the output for good.
class TraceKeyboard : public Keyboard {
 public:
  explicit TraceKeyboard(std::FILE* out);

  KeyboardState ReadState() override;
  KeyOutputResult TypeKeys(std::span<const KeyEvent> events) override;

 private:
  std::FILE* out_;
  LayoutKeymap layout_;
};

}  // namespace lintrel::platform
