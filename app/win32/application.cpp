// lintrel.exe: the Windows program. Its main window is a modal dialog; when it ends, the
// program ends.
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>

#include "app/win32/version_option.h"
#include "platform/keyboard.h"
#include "platform/serial_port.h"
#include "platform/system_settings.h"
#include "ui/win32/main_dialog.h"

namespace {

using namespace lintrel;

// The application: where its settings live, and its main window.
class Application {
 public:
  explicit Application(HINSTANCE instance) : instance_(instance) {}

  int Run() {
    // The tray icon's callback message, registered once for the whole process.
    const UINT tray_message = RegisterWindowMessageA("Lintrel");
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    std::string warning;
    // The settings belong to the program by its file name ("lintrel").
    platform::UserSettings settings = platform::OpenUserSettings(ui::win32::ProgramName(), &warning);
    std::string error;
    std::unique_ptr<platform::Keyboard> keyboard = platform::OpenSystemKeyboard("win32", &error);
    std::unique_ptr<platform::SerialDriver> driver = platform::MakeSystemSerialDriver();
    if (!keyboard) {
      MessageBoxA(nullptr, error.c_str(), ui::win32::ProgramName().c_str(), MB_OK | MB_ICONERROR);
      return 1;
    }
    ui::win32::MainDialog dialog(instance_, std::move(settings), tray_message, *driver, *keyboard);
    if (dialog.RunModal(nullptr) == -1) {
      MessageBoxA(nullptr, "The main window could not be created.", ui::win32::ProgramName().c_str(), MB_OK | MB_ICONERROR);
      return 1;
    }
    return 0;
  }

 private:
  HINSTANCE instance_;
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR command_line, int /*show*/) {
  if (app::AsksForVersion(command_line)) return app::ShowVersion();
  Application app(instance);
  return app.Run();
}
