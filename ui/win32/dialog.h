#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace lintrel::ui::win32 {

class DataExchange;

// A modal dialog from a template, with a message map and data exchange.
//
// Each dialog registers one handler per window message, command (button click or menu
// command) and control notification in its constructor. What no handler takes gets the
// dialog's default processing: OK exchanges the controls into the members and ends the
// dialog with 1, Cancel ends it with 2.
//
// Thread contract: a dialog lives and runs on the thread that called RunModal().
class Dialog {
 public:
  // A message handler's answer; nullopt passes the message on to default processing.
  using MessageHandler = std::function<std::optional<LRESULT>(WPARAM, LPARAM)>;
  using CommandHandler = std::function<void()>;

  Dialog(HINSTANCE instance, int template_id);
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the dialog until it ends; returns its result (-1 if it could not be created).
  INT_PTR RunModal(HWND owner);

  HWND hwnd() const { return hwnd_; }
  HINSTANCE instance() const { return instance_; }

 protected:
  void OnMessage(UINT message, MessageHandler handler);
  // A command: a button's click (BN_CLICKED), a menu or accelerator command.
  void OnCommand(int id, CommandHandler handler);
  // A control's notification other than a click (CBN_SELENDOK, ...).
  void OnNotification(int id, int code, CommandHandler handler);

  // Runs the data exchange (`save`: from the controls into the members). A failed
  // exchange has shown its message and left the focus on its control.
  bool UpdateData(bool save);
  void EndDialog(INT_PTR result);
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

  // Hooks for the dialogs: what the controls hold, and the default handlers.
  virtual void FillInitialLists() {}
  virtual bool Exchange(DataExchange& /*exchange*/) { return true; }
  // WM_INITDIALOG. The default fills the initial lists and shows the members in the
  // controls; a dialog that overrides it calls it where that belongs. Returns TRUE to let the
  // system put the focus on the first control.
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Dispatch(UINT message, WPARAM wparam, LPARAM lparam);
  bool DispatchCommand(WPARAM wparam);

  HINSTANCE instance_;
  int template_id_;
  HWND hwnd_ = nullptr;
  std::map<UINT, MessageHandler> message_handlers_;
  std::map<int, CommandHandler> command_handlers_;
  std::map<std::pair<int, int>, CommandHandler> notification_handlers_;
};

// Moves values between a dialog's controls and its members, in one direction.
class DataExchange {
 public:
  DataExchange(HWND dialog, bool save) : dialog_(dialog), save_(save) {}

  bool saving() const { return save_; }

  // A list's selected position (-1: none). Towards the control, a position outside the
  // list leaves it without a selection.
  void ListIndex(int id, int& index);
  void Check(int id, bool& checked);
  void Text(int id, std::string& text);

  // Shows `message` (exclamation icon), puts the focus on the control and fails the
  // exchange.
  bool Fail(int id, const std::string& message);

 private:
  HWND dialog_;
  bool save_;
};

// Adds the texts to a combo box's list, in their order (a sorted list sorts them).
void AddListEntry(HWND list, std::string_view text);
template <std::size_t N>
void AddListEntries(HWND list, const std::array<std::string_view, N>& texts) {
  for (std::string_view text : texts) AddListEntry(list, text);
}
// The text of a combo box's entry; "" for an index it does not have.
std::string ListEntryText(HWND list, int index);

// The texts of windows and controls, UTF-8 inside the program (the W calls, see
// platform/win32/wide_text.h).
std::string WindowText(HWND window);
void SetItemText(HWND dialog, int id, std::string_view text);

// The program's file name without folder and extension ("lintrel"): the name its settings
// are kept under.
std::string ProgramName();

// A modal message box owned by `owner`, captioned "Lintrel" as the main window is.
void ShowMessageBox(HWND owner, const std::string& text, UINT icon);

}  // namespace lintrel::ui::win32
