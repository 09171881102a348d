// Drives lintrel.exe from outside for the Wine tests: finds its windows and controls, reads
// them, and sends them what a user's clicks and keys would. Each verb on the command line
// prints one line; a verb that cannot be carried out prints "error: ...".
//
// Windows: main (the main window, "Lintrel"), options ("Options"), about ("About Lintrel"),
// monitor (the Monitor window, "Monitor COMn"), message (a message box), menu (an open popup
// menu), target (the typing target), target=NAME (a copy of it named NAME.exe), and
// caption=TEXT (a dialog whose caption begins with TEXT, such as an installer's).
//
//   wait WINDOW [ms]        until the window is visible: "ok" or "timeout"
//   gone WINDOW [ms]        until the window is no longer there: "ok" or "timeout"
//   visible WINDOW          "1" or "0"
//   controls WINDOW         every child: "id|class|text|enabled" joined with " ; "
//   text WINDOW [ID]        window text of the window or of its control (UTF-8, as shown)
//   list WINDOW ID          "selected|entry0|entry1|..." of a combo box
//   select WINDOW ID INDEX  selects an entry as the user would (with CBN_SELENDOK)
//   settext WINDOW ID TEXT  sets an edit control's text (%HH: a byte of its UTF-8)
//   check WINDOW ID 0|1     sets a check box
//   enabled WINDOW ID       "1" or "0"
//   checked WINDOW ID       "1" or "0"
//   click WINDOW ID         posts a click to a button
//   command WINDOW ID       posts WM_COMMAND with the id (menu commands)
//   syscommand WINDOW ID    posts WM_SYSCOMMAND
//   close WINDOW            posts WM_CLOSE (the close box)
//   tray BUTTON             posts the tray callback: left (WM_LBUTTONUP), right (WM_RBUTTONUP),
//                           balloon (a click on the balloon, NIN_BALLOONUSERCLICK)
//   arrived WINDOW COMn     sends the system's notice that the port arrived (WM_DEVICECHANGE)
//   key NAME                presses and releases a key: escape, enter, down, up
//   fg WINDOW               gives the window the foreground
//   rect WINDOW             "WIDTHxHEIGHT+LEFT+TOP" of the window on the screen
//   foreground              which of the windows above is the foreground one ("target=NAME" for a copy, "other", "none")
//   above WINDOW OTHER      "1" when WINDOW is in front of OTHER in the z-order, else "0"
//   focus WINDOW            id of the control that has the keyboard focus in the window's thread
//   count WINDOW            how many such windows there are
//   balloon                 the text of the notification area's balloon, "" when none shows
//   menutexts               the open popup menu's items "a|b|c|-|d" (probed inside lintrel)
//   windows                 the visible top-level windows, "class:caption" joined with " ; "
//   copy TEXT               puts TEXT (%HH: a byte of its UTF-8) on the clipboard as a program's copy
//   clipboard               the clipboard's text (UTF-8), "(none)" when it holds none
//   sleep MS
#include <windows.h>
#include <dbt.h>
#include <shellapi.h>

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A net against hangs, never a measure: a busy machine slows Wine down many times over
// (see kWinePatience in wine_prefix.h), and a wait ends as soon as what it waits for happens.
constexpr DWORD kDefaultWaitMs = 30000;
// The menu probe's two waits, which together stay within one driver run's limit.
constexpr DWORD kProbeWaitMs = 10000;

std::string Utf8(const wchar_t* wide) {
  char text[4096] = {};
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
  return text;
}


bool IsMessageBox(HWND window) {
  char class_name[64] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  return std::string(class_name) == "#32770" && GetDlgItem(window, 0xFFFF) != nullptr && IsWindowVisible(window);
}

BOOL CALLBACK FindMessageBox(HWND window, LPARAM found) {
  if (!IsMessageBox(window)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// Top-level dialogs by their exact caption (FindWindow compares captions without regard to
// case), and for the main window with its Port list (message boxes are captioned "Lintrel"
// too).
struct CaptionSearch {
  const char* caption;  // null: any
  int required_control;  // 0: none
  HWND found;
  int count;
  bool prefix_only = false;  // the caption begins with the text
};

BOOL CALLBACK FindDialogByCaption(HWND window, LPARAM search_pointer) {
  auto* search = reinterpret_cast<CaptionSearch*>(search_pointer);
  char class_name[64] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  char caption[256] = {};
  GetWindowTextA(window, caption, sizeof caption);
  const std::string text = caption;
  const bool matches = search->caption == nullptr ||
                       (search->prefix_only ? text.rfind(search->caption, 0) == 0 : text == search->caption);
  if (std::string(class_name) == "#32770" && matches &&
      (search->required_control == 0 || GetDlgItem(window, search->required_control) != nullptr)) {
    if (search->found == nullptr) search->found = window;
    ++search->count;
  }
  return TRUE;
}

CaptionSearch SearchByCaption(const char* caption, int required_control = 0) {
  CaptionSearch search{caption, required_control, nullptr, 0};
  EnumWindows(FindDialogByCaption, reinterpret_cast<LPARAM>(&search));
  return search;
}

HWND FindByCaption(const char* caption) { return SearchByCaption(caption).found; }

constexpr int kPortList = 1000;
constexpr int kMonitorText = 1061;

BOOL CALLBACK FindBalloon(HWND window, LPARAM text_pointer) {
  char class_name[64] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  if (std::string(class_name) != "tooltips_class32" || !IsWindowVisible(window)) return TRUE;
  wchar_t wide[512] = {};
  SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(wide));
  *reinterpret_cast<std::string*>(text_pointer) = Utf8(wide);
  return wide[0] == L'\0';
}

HWND FindNamedWindow(const std::string& name) {
  if (name.rfind("caption=", 0) == 0) {
    const std::string caption = name.substr(8);
    CaptionSearch search{caption.c_str(), 0, nullptr, 0, true};
    EnumWindows(FindDialogByCaption, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  if (name == "main") return SearchByCaption("Lintrel", kPortList).found;
  if (name == "options") return FindByCaption("Options");
  if (name == "about") return FindByCaption("About Lintrel");
  if (name == "monitor") return SearchByCaption(nullptr, kMonitorText).found;
  if (name == "target") return FindWindowA(nullptr, "Lintrel key target");
  if (name.rfind("target=", 0) == 0) return FindWindowA(nullptr, ("Lintrel key target " + name.substr(7)).c_str());
  if (name == "message") {
    HWND found = nullptr;
    EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&found));
    return found;
  }
  if (name == "menu") {
    const HWND menu = FindWindowA("#32768", nullptr);
    return menu != nullptr && IsWindowVisible(menu) ? menu : nullptr;
  }
  return nullptr;
}

// A text given on the command line, with %HH for each byte of its UTF-8 that is not plain
// ASCII (the command line of a Wine program passes through the locale's code page).
std::wstring Unescaped(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      bytes.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      bytes.push_back(text[i]);
    }
  }
  wchar_t wide[2048] = {};
  MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, wide, 2048);
  return wide;
}

// The clipboard holds `text` alone, as a program's copy (the data stays once the driver ends).
std::string Copy(const std::wstring& text) {
  if (!OpenClipboard(nullptr)) return "error: OpenClipboard";
  EmptyClipboard();
  const std::size_t size = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  bool set = false;
  if (void* target = block != nullptr ? GlobalLock(block) : nullptr) {
    std::memcpy(target, text.c_str(), size);
    GlobalUnlock(block);
    set = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
  }
  if (!set && block != nullptr) GlobalFree(block);
  CloseClipboard();
  return set ? "ok" : "error: SetClipboardData";
}

std::string ClipboardText() {
  if (!OpenClipboard(nullptr)) return "error: OpenClipboard";
  std::string text = "(none)";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* wide = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = Utf8(wide);
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

// A window's text on one line, as UTF-8 and as the user sees it: carriage returns and line
// feeds written as \r and \n; in a label or button, the & that underlines the next letter
// left out (&& is one &).
std::string Text(HWND window) {
  // WM_GETTEXT, not GetWindowText: for another process's control, GetWindowText returns
  // only the caption the system keeps, never an edit box's contents.
  wchar_t wide[1024] = {};
  SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(wide));
  char class_name[64] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  const bool prefixed_static =
      std::string(class_name) == "Static" && (GetWindowLongW(window, GWL_STYLE) & SS_NOPREFIX) == 0;
  const bool mnemonics = prefixed_static || std::string(class_name) == "Button";
  const std::string text = Utf8(wide);
  std::string escaped;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '&' && mnemonics) {
      if (i + 1 < text.size() && text[i + 1] == '&') escaped += text[++i];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string ComboEntries(HWND combo) {
  // CB_GETLBTEXT across processes: only the W form copies the whole text under Wine.
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  std::string entries = std::to_string(SendMessageW(combo, CB_GETCURSEL, 0, 0));
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t wide[256] = {};
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide));
    entries.append("|").append(Utf8(wide));
  }
  return entries;
}

BOOL CALLBACK DescribeTopLevel(HWND window, LPARAM out) {
  if (!IsWindowVisible(window)) return TRUE;
  auto* description = reinterpret_cast<std::string*>(out);
  char class_name[64] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  wchar_t caption[256] = {};
  GetWindowTextW(window, caption, 256);
  if (!description->empty()) *description += " ; ";
  *description += std::string(class_name) + ":" + Utf8(caption);
  return TRUE;
}

BOOL CALLBACK DescribeChild(HWND child, LPARAM out) {
  auto* description = reinterpret_cast<std::string*>(out);
  char class_name[64] = {};
  GetClassNameA(child, class_name, sizeof class_name);
  if (!description->empty()) *description += " ; ";
  *description += std::to_string(static_cast<short>(GetDlgCtrlID(child))) + "|" + class_name + "|" + Text(child) +
                  "|" + (IsWindowEnabled(child) ? "1" : "0");
  return TRUE;
}

bool WaitFor(const std::string& name, DWORD limit_ms, bool present) {
  const DWORD start = GetTickCount();
  for (;;) {
    const HWND window = FindNamedWindow(name);
    const bool visible = window != nullptr && IsWindowVisible(window);
    if (visible == present) return true;
    if (GetTickCount() - start > limit_ms) return false;
    Sleep(20);
  }
}

void Key(WORD key) {
  keybd_event(static_cast<BYTE>(key), 0, 0, 0);
  keybd_event(static_cast<BYTE>(key), 0, KEYEVENTF_KEYUP, 0);
}

WORD KeyByName(const std::string& name) {
  if (name == "ctrl") return VK_CONTROL;
  if (name == "alt") return VK_MENU;
  if (name == "shift") return VK_SHIFT;
  if (name.size() >= 2 && name[0] == 'f' && std::isdigit(static_cast<unsigned char>(name[1]))) {
    const int number = std::atoi(name.c_str() + 1);
    return number >= 1 && number <= 24 ? static_cast<WORD>(VK_F1 + number - 1) : 0;
  }
  if (name == "escape") return VK_ESCAPE;
  if (name == "enter") return VK_RETURN;
  if (name == "down") return VK_DOWN;
  if (name == "up") return VK_UP;
  return 0;
}

// The popup menu's handle is valid only inside the process that owns it: a small library
// is loaded into that process, reads the items and writes them to a file beside itself.
std::string ProbeMenuTexts() {
  const HWND menu = FindNamedWindow("menu");
  if (menu == nullptr) return "error: no menu open";
  char driver_path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, driver_path, MAX_PATH);
  std::string probe = driver_path;
  probe.erase(probe.find_last_of('\\') + 1);
  probe += "lintrel_menu_probe.dll";
  const std::string output = probe + ".txt";
  DeleteFileA(output.c_str());

  DWORD process_id = 0;
  GetWindowThreadProcessId(menu, &process_id);
  const HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, process_id);
  if (process == nullptr) return "error: OpenProcess " + std::to_string(GetLastError());
  void* remote_path = VirtualAllocEx(process, nullptr, probe.size() + 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  WriteProcessMemory(process, remote_path, probe.c_str(), probe.size() + 1, nullptr);
  // LoadLibraryA has the shape of a thread routine: one pointer in, a value out.
  const auto load_library = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
  const HANDLE thread = CreateRemoteThread(process, nullptr, 0, load_library, remote_path, 0, nullptr);
  if (thread == nullptr) {
    CloseHandle(process);
    return "error: CreateRemoteThread " + std::to_string(GetLastError());
  }
  const bool loaded = WaitForSingleObject(thread, kProbeWaitMs) == WAIT_OBJECT_0;
  DWORD module = 0;  // the low half of the library's handle, 0 when it was not loaded
  GetExitCodeThread(thread, &module);
  CloseHandle(thread);
  if (loaded) VirtualFreeEx(process, remote_path, 0, MEM_RELEASE);
  CloseHandle(process);
  if (!loaded) return "error: the probe library did not load in time";
  if (module == 0) return "error: the probe library could not be loaded";

  for (DWORD waited = 0; waited < kProbeWaitMs; waited += 20) {
    const HANDLE file = CreateFileA(output.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      char text[1024] = {};
      DWORD read = 0;
      ReadFile(file, text, sizeof text - 1, &read, nullptr);
      CloseHandle(file);
      return std::string(text, read);
    }
    Sleep(20);
  }
  return "error: the probe wrote nothing";
}

class Verbs {
 public:
  explicit Verbs(std::vector<std::string> args) : args_(std::move(args)) {}

  int Run() {
    int failures = 0;
    while (next_ < args_.size()) {
      const std::string result = Step(Take());
      std::printf("%s\n", result.c_str());
      std::fflush(stdout);
      if (result.rfind("error:", 0) == 0) ++failures;
    }
    return failures == 0 ? 0 : 1;
  }

 private:
  std::string Take() { return next_ < args_.size() ? args_[next_++] : std::string(); }
  int TakeNumber() { return std::atoi(Take().c_str()); }
  // An optional number that follows: taken only when it is one.
  DWORD TakeOptionalMs() {
    if (next_ < args_.size() && !args_[next_].empty() && std::isdigit(static_cast<unsigned char>(args_[next_][0]))) {
      return static_cast<DWORD>(TakeNumber());
    }
    return kDefaultWaitMs;
  }

  std::string Step(const std::string& verb) {
    if (verb == "sleep") {
      Sleep(static_cast<DWORD>(TakeNumber()));
      return "ok";
    }
    if (verb == "key") {
      const WORD key = KeyByName(Take());
      if (key == 0) return "error: unknown key";
      Key(key);
      return "ok";
    }
    if (verb == "chord") {
      // Keys held together, "ctrl+alt+f9": pressed in order, released in reverse.
      std::vector<WORD> keys;
      std::stringstream names(Take());
      for (std::string name; std::getline(names, name, '+');) {
        keys.push_back(KeyByName(name));
        if (keys.back() == 0) return "error: unknown key " + name;
      }
      for (WORD key : keys) keybd_event(static_cast<BYTE>(key), 0, 0, 0);
      for (auto key = keys.rbegin(); key != keys.rend(); ++key) keybd_event(static_cast<BYTE>(*key), 0, KEYEVENTF_KEYUP, 0);
      return "ok";
    }
    if (verb == "holdhotkey") {
      // Takes a hotkey for this process (another program's), until it ends: "ctrl+alt+f10".
      UINT modifiers = 0;
      WORD key = 0;
      std::stringstream names(Take());
      for (std::string name; std::getline(names, name, '+');) {
        const WORD named = KeyByName(name);
        if (named == VK_CONTROL) modifiers |= MOD_CONTROL;
        else if (named == VK_MENU) modifiers |= MOD_ALT;
        else if (named == VK_SHIFT) modifiers |= MOD_SHIFT;
        else key = named;
      }
      return key != 0 && RegisterHotKey(nullptr, 1, modifiers, key) ? "ok" : "error: RegisterHotKey";
    }
    if (verb == "tray") return Tray(Take());
    if (verb == "menutexts") return ProbeMenuTexts();
    if (verb == "windows") {
      std::string description;
      EnumWindows(DescribeTopLevel, reinterpret_cast<LPARAM>(&description));
      return description;
    }
    if (verb == "foreground") return Foreground();
    if (verb == "copy") return Copy(Unescaped(Take()));
    if (verb == "clipboard") return ClipboardText();
    if (verb == "balloon") {
      std::string text;
      EnumWindows(FindBalloon, reinterpret_cast<LPARAM>(&text));
      return text;
    }
    if (verb == "count") {
      const std::string name = Take();
      if (name != "main") return "error: count main only";
      return std::to_string(SearchByCaption("Lintrel", kPortList).count);
    }
    if (verb == "wait" || verb == "gone") {
      const std::string name = Take();
      return WaitFor(name, TakeOptionalMs(), verb == "wait") ? "ok" : "timeout";
    }
    const std::string name = Take();
    const HWND window = FindNamedWindow(name);
    if (verb == "visible") return window != nullptr && IsWindowVisible(window) ? "1" : "0";
    if (window == nullptr) return "error: no window " + name;
    return OnWindow(verb, window);
  }

  std::string OnWindow(const std::string& verb, HWND window) {
    if (verb == "controls") {
      std::string description;
      EnumChildWindows(window, DescribeChild, reinterpret_cast<LPARAM>(&description));
      return description;
    }
    if (verb == "text") {
      if (next_ < args_.size() && !args_[next_].empty() && std::isdigit(static_cast<unsigned char>(args_[next_][0]))) {
        return Text(GetDlgItem(window, TakeNumber()));
      }
      return Text(window);
    }
    if (verb == "close") return PostMessageA(window, WM_CLOSE, 0, 0) ? "ok" : "error: post";
    if (verb == "rect") {
      RECT r{};
      GetWindowRect(window, &r);
      return std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" + std::to_string(r.left) +
             "+" + std::to_string(r.top);
    }
    if (verb == "fg") return SetForegroundWindow(window) ? "ok" : "error: SetForegroundWindow";
    if (verb == "above") {
      const std::string other_name = Take();
      const HWND other = FindNamedWindow(other_name);
      if (other == nullptr) return "error: no window " + other_name;
      for (HWND behind = GetWindow(window, GW_HWNDNEXT); behind != nullptr; behind = GetWindow(behind, GW_HWNDNEXT)) {
        if (behind == other) return "1";
      }
      return "0";
    }
    if (verb == "focus") {
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return "error: GetGUIThreadInfo";
      return info.hwndFocus == nullptr ? "none" : std::to_string(GetDlgCtrlID(info.hwndFocus));
    }
    if (verb == "arrived") {
      // As the system broadcasts it to every top-level window; Wine copies the notice into
      // the receiving process.
      const std::string port = Take();
      // The port's name runs on past the end of the record's one-character field.
      std::vector<char> record(sizeof(DEV_BROADCAST_PORT_A) + port.size());
      auto* notice = reinterpret_cast<DEV_BROADCAST_PORT_A*>(record.data());
      notice->dbcp_size = static_cast<DWORD>(record.size());
      notice->dbcp_devicetype = DBT_DEVTYP_PORT;
      std::memcpy(record.data() + offsetof(DEV_BROADCAST_PORT_A, dbcp_name), port.c_str(), port.size() + 1);
      DWORD_PTR answer = 0;
      const LRESULT sent = SendMessageTimeoutA(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(notice),
                                               SMTO_ABORTIFHUNG, kDefaultWaitMs, &answer);
      return sent != 0 ? "ok" : "error: WM_DEVICECHANGE not answered";
    }
    if (verb == "command" || verb == "syscommand") {
      const UINT message = verb == "command" ? WM_COMMAND : WM_SYSCOMMAND;
      return PostMessageA(window, message, static_cast<WPARAM>(TakeNumber()), 0) ? "ok" : "error: post";
    }
    const int id = TakeNumber();
    const HWND control = GetDlgItem(window, id);
    if (control == nullptr) return "error: no control " + std::to_string(id);
    if (verb == "list") return ComboEntries(control);
    if (verb == "enabled") return IsWindowEnabled(control) ? "1" : "0";
    if (verb == "checked") return SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0";
    // Posted: a click that opens a modal box would not return until the box closes.
    if (verb == "click") return PostMessageA(control, BM_CLICK, 0, 0) ? "ok" : "error: post";
    if (verb == "check") {
      SendMessageA(control, BM_SETCHECK, TakeNumber() != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
      return "ok";
    }
    if (verb == "settext") {
      const std::wstring text = Unescaped(Take());
      SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
      return "ok";
    }
    if (verb == "select") {
      SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(TakeNumber()), 0);
      SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, CBN_SELENDOK), reinterpret_cast<LPARAM>(control));
      return "ok";
    }
    return "error: unknown verb " + verb;
  }

  static std::string Foreground() {
    const HWND foreground = GetForegroundWindow();
    if (foreground == nullptr) return "none";
    for (const char* name : {"main", "options", "about", "monitor", "message", "menu", "target"}) {
      if (FindNamedWindow(name) == foreground) return name;
    }
    char caption[256] = {};
    GetWindowTextA(foreground, caption, sizeof caption);
    const std::string copy = "Lintrel key target ";
    if (std::string(caption).rfind(copy, 0) == 0) return "target=" + std::string(caption).substr(copy.size());
    return "other";
  }

  std::string Tray(const std::string& button) {
    const HWND main_window = FindNamedWindow("main");
    if (main_window == nullptr) return "error: no main window";
    const UINT callback = RegisterWindowMessageA("Lintrel");
    const LPARAM mouse = button == "right" ? WM_RBUTTONUP : button == "balloon" ? NIN_BALLOONUSERCLICK : WM_LBUTTONUP;
    return PostMessageA(main_window, callback, 1, mouse) ? "ok" : "error: post";
  }

  std::vector<std::string> args_;
  std::size_t next_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  return Verbs(std::vector<std::string>(argv + 1, argv + argc)).Run();
}
