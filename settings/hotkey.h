#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lintrel {

// A key combination that sends a port's poll from anywhere in the session ("Ctrl+Alt+F9").
// The modifiers and the key are numbered as the Windows hotkey calls number them, so that
// the Windows front end hands them over unchanged; here they are plain numbers.
struct Hotkey {
  static constexpr unsigned kAlt = 0x1;
  static constexpr unsigned kCtrl = 0x2;
  static constexpr unsigned kShift = 0x4;
  static constexpr unsigned kWin = 0x8;

  unsigned modifiers = 0;  // kAlt | kCtrl | kShift | kWin
  int key = 0;             // a virtual-key code: 'A'..'Z', '0'..'9', F1 = 0x70, ...

  // The text ParseHotkey reads: the modifiers in the order Ctrl, Alt, Shift, Win, then the
  // key's name, joined by "+" ("Ctrl+Shift+P").
  std::string Text() const;

  bool operator==(const Hotkey&) const = default;
};

// Reads a hotkey as the user writes it: modifiers and one key joined by "+", in any case,
// blanks around the parts allowed ("ctrl + alt + f9"). The keys: A to Z, 0 to 9, F1 to F24,
// NumPad0 to NumPad9, Space, Insert, Delete, Home, End, PageUp, PageDown, Up, Down, Left,
// Right, Pause. A key that types a character (a letter, a digit, Space) needs Ctrl, Alt or
// Win: on its own or with Shift it would take that character from every program, the lines
// this program types among them. Nullopt with *error saying what is wrong.
std::optional<Hotkey> ParseHotkey(std::string_view text, std::string* error);

}  // namespace lintrel
