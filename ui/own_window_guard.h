#pragma once

#include <functional>
#include <mutex>

namespace lintrel::ui {

// Keeps typed lines out of this program's own windows. Lintrel types into whatever window
// has the keyboard focus; when that is one of its own (the main window after a click, the
// hidden window after the tray menu, a dialog), a carriage return would press a button or
// end the program. Such a line is dropped whole instead, and the user is told.
//
// Thread contract: MayType() runs on the typing thread, once per line; the two functions
// it is given must be callable there. TakeDropped() runs on the UI thread.
class OwnWindowGuard {
 public:
  // `foreground_is_ours`: whether a window of this program is the foreground window now.
  // `tell_ui`: asks the UI thread to call TakeDropped() soon (a posted message, say).
  OwnWindowGuard(std::function<bool()> foreground_is_ours, std::function<void()> tell_ui);

  // Whether the line from the port may be typed now. A refused line is counted, and the UI
  // is told once until it has taken the count.
  bool MayType(int port_number);

  struct Dropped {
    int lines = 0;
    int last_port = -1;
  };
  // The lines dropped since the last call.
  Dropped TakeDropped();

 private:
  std::function<bool()> foreground_is_ours_;
  std::function<void()> tell_ui_;
  std::mutex mutex_;
  Dropped dropped_;
};

}  // namespace lintrel::ui
