#pragma once

#include <windows.h>

namespace lintrel::ui::win32 {

// The foreground window, the one that receives typed keys, and this program's part in it.
//
// Thread contract: ForegroundIsThisProcess() may be called from any thread (it only asks
// the system); the others run on the UI thread.

// Whether the foreground window belongs to this process (any of its windows, hidden ones
// included).
bool ForegroundIsThisProcess();

// Gives the foreground back to the window the user worked in before this program took it
// (to show its tray menu): `before` itself when it is another program's window, else, when
// the click on the notification area had made the taskbar the foreground window, the
// topmost ordinary window of another program. Does nothing when there is none.
void GiveForegroundBack(HWND before);

}  // namespace lintrel::ui::win32
