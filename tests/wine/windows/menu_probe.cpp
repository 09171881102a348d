// Loaded into lintrel.exe by the test driver while its popup menu is open: writes the
// menu's item texts, "a|b|-|c" with "-" for a separator and " (grayed)" after an item that
// cannot be chosen, to "<this library>.txt", then unloads itself so that the next probe
// runs afresh.
#include <windows.h>

#include <string>

namespace {

HMODULE self = nullptr;

// The open popup menu of this process: a visible window of the menu class. Other programs
// (the shell's notification area, say) may have menu windows of their own, hidden ones too.
BOOL CALLBACK FindOwnMenu(HWND window, LPARAM found) {
  char class_name[16] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (std::string(class_name) != "#32768" || !IsWindowVisible(window) || process_id != GetCurrentProcessId()) {
    return TRUE;
  }
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

std::string MenuTexts() {
  HWND popup = nullptr;
  EnumWindows(FindOwnMenu, reinterpret_cast<LPARAM>(&popup));
  if (popup == nullptr) return "error: no menu";
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutA(popup, MN_GETHMENU, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer)) {
    return "error: the menu does not answer";
  }
  const auto menu = reinterpret_cast<HMENU>(answer);
  const int count = GetMenuItemCount(menu);
  if (count < 0) return "error: GetMenuItemCount";
  std::string texts;
  for (int i = 0; i < count; ++i) {
    if (i > 0) texts += "|";
    char text[256] = {};
    if (GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION) > 0) {
      texts += text;
      if (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED) texts += " (grayed)";
    } else {
      texts += "-";
    }
  }
  return texts;
}

DWORD WINAPI Probe(void*) {
  const std::string texts = MenuTexts();
  char path[MAX_PATH] = {};
  GetModuleFileNameA(self, path, MAX_PATH);
  const std::string output = std::string(path) + ".txt";
  const std::string temporary = output + ".tmp";
  const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, texts.data(), static_cast<DWORD>(texts.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExA(temporary.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  FreeLibraryAndExitThread(self, 0);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    self = instance;
    // Not here: the loader's lock is held while this runs.
    const HANDLE thread = CreateThread(nullptr, 0, Probe, nullptr, 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
  }
  return TRUE;
}
