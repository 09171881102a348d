#include "ui/win32/administrator_note.h"

#include <string_view>

#include "ui/policy_locks.h"

namespace lintrel::ui::win32 {
namespace {

std::string TextOf(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The note's line: the dialog grows by one line of text, which it spans below the controls.
HWND AddLine(HWND dialog) {
  RECT client{};
  GetClientRect(dialog, &client);
  RECT units{12, 4, 0, 10};  // margin, gap above, -, height (dialog units)
  MapDialogRect(dialog, &units);
  RECT outer{};
  GetWindowRect(dialog, &outer);
  SetWindowPos(dialog, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top + units.top + units.bottom,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  const HWND line = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_NOPREFIX | SS_ENDELLIPSIS, units.left,
                                    client.bottom, client.right - 2 * units.left, units.bottom, dialog, nullptr,
                                    reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE)), nullptr);
  SendMessageA(line, WM_SETFONT, SendMessageA(dialog, WM_GETFONT, 0, 0), FALSE);
  return line;
}

}  // namespace

std::string ControlLabel(HWND control) {
  HWND named = control;
  if (ClassOf(control) != "Button") {
    const HWND before = GetWindow(control, GW_HWNDPREV);
    if (before != nullptr && ClassOf(before) == "Static") named = before;
  }
  std::string label;
  for (char c : TextOf(named)) {
    if (c != '&') label.push_back(c);
  }
  while (!label.empty() && (label.back() == ':' || label.back() == '.' || label.back() == ' ')) label.pop_back();
  return label;
}

void AdministratorNote::Show(HWND dialog, const std::vector<int>& locked) {
  std::string names;
  for (int id : locked) {
    const HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) continue;
    EnableWindow(control, FALSE);
    names.append(names.empty() ? "" : ", ").append(ControlLabel(control));
  }
  if (names.empty() && line_ == nullptr) return;
  if (line_ == nullptr) line_ = AddLine(dialog);
  const std::string text = names.empty() ? "" : std::string(kSetByAdministratorText) + ": " + names;
  SetWindowTextA(line_, text.c_str());
}

}  // namespace lintrel::ui::win32
