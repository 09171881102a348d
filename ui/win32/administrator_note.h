#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace lintrel::ui::win32 {

// The controls of a dialog whose values a policy sets: disabled, and named on a line of
// their own at the foot of the dialog, "Set by your administrator: End Char, Truncate End
// Char". The line is added the first time a control is locked (the dialog grows by it), so
// that no dialog template needs a place for it.
//
// Thread contract: the dialog's thread.
class AdministratorNote {
 public:
  // Disables each of `locked` (ids of the dialog's controls) and names them; an empty list
  // empties the line. The caller enables the controls no policy sets.
  void Show(HWND dialog, const std::vector<int>& locked);

 private:
  HWND line_ = nullptr;
};

// What a control is called in its dialog: a button's own text, else the text before it (its
// label), without the mnemonic's & and a closing colon or full stop.
std::string ControlLabel(HWND control);

}  // namespace lintrel::ui::win32
