// A typing target for the Wine tests: a window whose multi-line edit box has the keyboard
// focus. Whatever is typed into the box is written to the file named on the command line,
// replaced whole on every change. The file is written empty once the box has the focus:
// the sign that typing may begin. Copied under another name ("alpha.exe"), it is a program
// of that name, captioned "Lintrel key target alpha".
#include <windows.h>

#include <string>

namespace {

constexpr UINT kFocusSettled = WM_APP + 1;

std::string output_path;
HWND edit_box = nullptr;

// Written beside the file and moved over it, so a reader never sees half a text.
void WriteOutput(const std::string& text) {
  const std::string temporary = output_path + ".tmp";
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  MoveFileExA(temporary.c_str(), output_path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::string EditText() {
  const int length = GetWindowTextLengthA(edit_box);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  GetWindowTextA(edit_box, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  switch (message) {
    case WM_CREATE:
      edit_box = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN, 0, 0, 400,
                                 200, window, nullptr, GetModuleHandleA(nullptr), nullptr);
      return edit_box != nullptr ? 0 : -1;
    case WM_COMMAND:
      if (HIWORD(w_param) == EN_CHANGE) WriteOutput(EditText());
      return 0;
    case WM_SETFOCUS:
      // Activated again (after another window had the foreground), the focus goes back to
      // the edit box, as it does in an editor.
      SetFocus(edit_box);
      return 0;
    case kFocusSettled:
      if (GetFocus() == edit_box) {
        WriteOutput("");
      } else {
        SetFocus(edit_box);
        PostMessageA(window, kFocusSettled, 0, 0);
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, w_param, l_param);
  }
}

}  // namespace

// "Lintrel key target", and the name of a copy.
std::string Caption() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name = path;
  name.erase(0, name.find_last_of('\\') + 1);
  name.erase(name.find_last_of('.'));
  return name == "lintrel_key_target" ? "Lintrel key target" : "Lintrel key target " + name;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR command_line, int /*show*/) {
  output_path = command_line;
  if (output_path.empty()) return 2;
  const std::string caption = Caption();

  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = WindowProcedure;
  window_class.hInstance = instance;
  window_class.lpszClassName = "LintrelKeyTarget";
  if (RegisterClassA(&window_class) == 0) return 1;
  HWND window = CreateWindowExA(0, window_class.lpszClassName, caption.c_str(), WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 420, 240, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  SetFocus(edit_box);
  PostMessageA(window, kFocusSettled, 0, 0);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
