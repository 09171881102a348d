#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>

#include "platform/keyboard.h"

namespace lintrel {

// Types finished lines as key presses: for each character, its key down and up, wrapped in
// Shift down/up when (and only when) the layout's shift state for it is exactly Shift. Any
// other modifier combination, and the no-key result, sends the bare key.
//
// Thread contract: TypeLine() may be called from several reader threads at once; each line
// is typed whole before the next one starts, so lines never interleave.
class KeystrokeSender {
 public:
  using LineObserver = std::function<void(int port_number, std::span<const uint8_t> line)>;
  // Asked on the typing thread just before a line is typed; false drops the line whole,
  // nothing of it typed (the front end keeps lines out of its own windows this way).
  using LineGate = std::function<bool(int port_number)>;

  explicit KeystrokeSender(platform::Keyboard& keyboard) : keyboard_(keyboard) {}

  void TypeLine(int port_number, std::span<const uint8_t> line);

  // Told of every line after it has been typed. Set before any reader starts.
  void SetLineObserver(LineObserver observer) { observer_ = std::move(observer); }
  // Set before any reader starts.
  void SetLineGate(LineGate gate) { gate_ = std::move(gate); }

 private:
  void TypeCharacter(uint8_t character);

  platform::Keyboard& keyboard_;
  std::mutex typing_;
  LineObserver observer_;
  LineGate gate_;
};

}  // namespace lintrel
