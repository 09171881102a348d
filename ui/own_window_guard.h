#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace lintrel::ui {

// Keeps typed lines out of this program's own windows. Lintrel types into whatever window
// has the keyboard focus; when that is one of its own (the main window after a click, the
// hidden window after the tray menu, a dialog), a carriage return would press a button or
// end the program. Such a line is dropped whole instead, and the user is told. A paced line
// is watched key by key: when a window of the program, or any window other than the one the
// line began in, comes to the front while it is typed, the rest of the line is not typed.
//
// Thread contract: MayType() and PacedLineCheck() (and the checks it hands out) run on the
// typing thread; the functions the guard is given must be callable there. TakeDropped() runs
// on the UI thread.
class OwnWindowGuard {
 public:
  // `foreground_is_ours`: whether a window of this program is the foreground window now.
  // `foreground_window`: the foreground window now, as an opaque handle (0 for none).
  // `tell_ui`: asks the UI thread to call TakeDropped() soon (a posted message, say).
  OwnWindowGuard(std::function<bool()> foreground_is_ours, std::function<std::uintptr_t()> foreground_window,
                 std::function<void()> tell_ui);

  // Whether the line from the port may be typed now. A refused line is counted, and the UI
  // is told once until it has taken the count.
  bool MayType(int port_number);

  // The check for one paced line, handed out as the line begins: asked before each of its
  // keys, it gives the reason the line must stop there (see PacedLineStop), or "" to go on.
  std::function<std::string()> PacedLineCheck() const;

  struct Dropped {
    int lines = 0;
    int last_port = -1;
  };
  // The lines dropped since the last call.
  Dropped TakeDropped();

 private:
  bool ForegroundIsOurs() const { return foreground_is_ours_ && foreground_is_ours_(); }

  std::function<bool()> foreground_is_ours_;
  std::function<std::uintptr_t()> foreground_window_;
  std::function<void()> tell_ui_;
  std::mutex mutex_;
  Dropped dropped_;
};

// Why a paced line must stop before its next key: a window of this program came to the front
// (its keys would press buttons there), or another window than the one the line began in (the
// rest of the line belongs to the first one). Empty while the line may go on.
std::string PacedLineStop(bool ours_in_front, std::uintptr_t began_in, std::uintptr_t in_front);

inline constexpr std::string_view kOwnWindowInFront = "a window of Lintrel came to the front";
inline constexpr std::string_view kOtherWindowInFront = "another window came to the front";

}  // namespace lintrel::ui
