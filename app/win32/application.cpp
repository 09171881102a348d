// lintrel.exe: the Windows program. Its main window is a modal dialog; when it ends, the
// program ends.
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "app/win32/program_options.h"
#include "platform/command_line.h"
#include "platform/keyboard.h"
#include "platform/serial_port.h"
#include "platform/system_settings.h"
#include "ui/win32/main_dialog.h"

namespace {

using namespace lintrel;

// The application: where its settings live, and its main window.
class Application {
 public:
  // `in_tray`: started with --tray (at login): hidden, with the notification-area icon only.
  Application(HINSTANCE instance, bool in_tray) : instance_(instance), in_tray_(in_tray) {}

  int Run() {
    // One Lintrel per session: a second start brings the running one's window up instead
    // of fighting over the ports with a second window and tray icon; a second start with
    // --tray asks for nothing to be shown, so it leaves the running one as it is. The mutex
    // is held until the process ends.
    if (CreateMutexW(nullptr, FALSE, L"Local\\Lintrel.Instance") != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
      if (!in_tray_) BringUpRunningInstance();
      return 0;
    }
    // The tray icon's callback message, registered once for the whole process.
    const UINT tray_message = RegisterWindowMessageA("Lintrel");
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    std::vector<std::string> warnings;
    // The settings belong to the program by its file name ("lintrel").
    platform::ProgramSettings settings =
        platform::OpenProgramSettings(ui::win32::ProgramName(), /*policy_file=*/"", &warnings);
    std::string error;
    std::string chosen;
    std::shared_ptr<platform::Keyboard> keyboard =
        platform::OpenSystemKeyboard({.name = "win32", .layout = ""}, &error, &chosen);
    std::unique_ptr<platform::SerialDriver> driver = platform::MakeSystemSerialDriver();
    if (!keyboard) {
      ui::win32::ShowMessageBox(nullptr, error, MB_ICONERROR);
      return 1;
    }
    // The keyboard goes to the typing thread, which keeps it for as long as it runs.
    ui::win32::MainDialog dialog(instance_, std::move(settings), tray_message, *driver, std::move(keyboard),
                                 in_tray_);
    if (dialog.RunModal(nullptr) == -1) {
      ui::win32::ShowMessageBox(nullptr, "The main window could not be created.", MB_ICONERROR);
      return 1;
    }
    return 0;
  }

 private:
  // The running instance may still be starting: its window is looked for a little while.
  static void BringUpRunningInstance() {
    for (int attempt = 0; attempt < 50; ++attempt) {
      if (const HWND running = ui::win32::MainDialog::FindRunning()) {
        DWORD process_id = 0;
        GetWindowThreadProcessId(running, &process_id);
        // This process was just started by the user and may give the foreground away.
        AllowSetForegroundWindow(process_id);
        PostMessageA(running, ui::win32::MainDialog::ShowWindowMessage(), 0, 0);
        return;
      }
      Sleep(100);
    }
  }

  HINSTANCE instance_;
  bool in_tray_;
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/, int /*show*/) {
  std::vector<std::string> arguments = platform::CommandLineArguments(0, nullptr);
  if (!arguments.empty()) arguments.erase(arguments.begin());
  const app::ProgramOptions options = app::ParseProgramOptions(arguments);
  if (!options.error.empty()) {
    ui::win32::ShowMessageBox(nullptr, options.error, MB_ICONERROR);
    return 2;
  }
  if (options.version) return app::ShowVersion();
  Application app(instance, options.tray);
  return app.Run();
}
