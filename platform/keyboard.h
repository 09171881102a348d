#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lintrel::platform {

// A character's key: the key code and the modifiers needed to type it.
// shift_state bits: 1 Shift, 2 Ctrl, 4 Alt. A character the layout cannot produce
// maps to kNoKey for both.
struct KeyMapping {
  uint8_t key_code = 0;
  uint8_t shift_state = 0;
};

inline constexpr uint8_t kNoKey = 255;
inline constexpr uint8_t kShiftStateShift = 1;

// Synthesised keyboard input into whatever window has the focus.
//
// Thread contract: not thread-safe. The keystroke sender serialises every call, so a
// backend may assume a single caller at a time (possibly a different thread each line).
class Keyboard {
 public:
  virtual ~Keyboard() = default;

  virtual KeyMapping Map(uint8_t character) = 0;
  // The key code of the Shift key in this backend's numbering.
  virtual uint8_t ShiftKey() const = 0;
  virtual void KeyDown(uint8_t key_code) = 0;
  virtual void KeyUp(uint8_t key_code) = 0;
  // Called after the last key of each line: deliver whatever the backend buffered.
  virtual void EndLine() = 0;
};

// The platform's real keyboards, by the name --keys takes ("x11" on Linux).
std::vector<std::string> SystemKeyboardNames();
// Opens the named system keyboard; on failure returns null and sets *error.
std::unique_ptr<Keyboard> OpenSystemKeyboard(const std::string& name, std::string* error);

}  // namespace lintrel::platform
