#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/cli_app.h"
#include "app/cli/cli_options.h"
#include "app/cli/demo.h"
#include "app/version.h"
#include "common/port_number.h"
#include "platform/keyboard.h"
#include "platform/serial_port.h"
#include "platform/standard_streams.h"
#include "platform/stop_signal.h"
#include "platform/system_settings.h"
#include "settings/line_settings_store.h"

namespace {

using namespace lintrel;

// The settings belong to the program by its file name, as on Windows ("lintrel-cli").
std::string ApplicationName(const char* argv0) {
  const std::string stem = std::filesystem::path(argv0 != nullptr ? argv0 : "").stem().string();
  return stem.empty() ? "lintrel-cli" : stem;
}

// The saved line settings; the port name is left empty when none was saved, so that
// --port stays required until one is.
LineSettings LoadStoredSettings(SettingsStore& store) {
  LineSettings stored = LoadLineSettings(store);
  if (!store.ReadString(kPortEntry)) stored.port_name.clear();
  return stored;
}

bool Save(SettingsStore& store, const cli::CliOptions& options, const std::string& location) {
  LineSettings line = options.line;
  line.port_name = cli::SavedPortName(options);
  // Until a port is given, none is saved: an empty "Port" would read as a saved choice.
  const bool names_port = !line.port_name.empty() || store.ReadString(kPortEntry).has_value();
  std::string error;
  const bool saved = names_port ? SaveLineSettings(store, line, &error) : SaveLinePositions(store, line, &error);
  if (!saved) {
    std::fprintf(stderr, "lintrel-cli: --save: %s\n", error.c_str());
    return false;
  }
  std::fprintf(stderr, "lintrel-cli: settings saved in %s\n", location.c_str());
  return true;
}

// The dialog's Port list: one port per line, the saved port marked with "*".
void ListPorts(const PortList& ports, const std::string& saved_port) {
  const std::optional<std::size_t> selected = ports.FindSaved(saved_port);
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const PortEntry& entry = ports.entries()[i];
    const std::string device = entry.device_path.empty() ? "" : "  " + entry.device_path;
    std::printf("%s %s%s\n", selected == i ? "*" : " ", entry.name.c_str(), device.c_str());
  }
}

// Ports given without a device path use the device the port list names for them (a
// pinned path, or the scanned device), else the platform's default path. The list is built
// only when a port needs it.
void ResolveDevicePaths(cli::CliOptions& options, SettingsStore& settings) {
  const bool any_without_path = std::any_of(options.ports.begin(), options.ports.end(),
                                            [](const cli::PortRequest& request) { return request.device_path.empty(); });
  if (!any_without_path) return;
  const PortList ports = platform::ListSystemPorts(settings);
  for (cli::PortRequest& request : options.ports) {
    if (!request.device_path.empty()) continue;
    const std::string name = PortName(request.port_number);
    for (const PortEntry& entry : ports.entries()) {
      if (entry.name == name && !entry.device_path.empty()) {
        request.device_path = entry.device_path;
        break;
      }
    }
  }
}

int Run(const cli::CliOptions& options, platform::StopSignal& stop) {
  std::string error;
  std::unique_ptr<platform::Keyboard> keyboard = cli::OpenKeyboard(options.keys, stdout, &error);
  if (!keyboard) {
    std::fprintf(stderr, "lintrel-cli: --keys %s: %s\n", options.keys.c_str(), error.c_str());
    return 1;
  }
  std::unique_ptr<platform::SerialDriver> driver = platform::MakeSystemSerialDriver();
  cli::CliApp app(options, *keyboard, *driver, stderr);
  if (!app.ConnectAll()) return 1;
  app.Serve(stop);
  std::fprintf(stderr, "lintrel: stopping\n");
  app.Release();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!platform::EnsureStandardStreams()) return 1;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::vector<std::string> keyboards = platform::SystemKeyboardNames();
  const std::string application = ApplicationName(argc > 0 ? argv[0] : nullptr);
  const std::string location = platform::SettingsLocation(application);
  std::string warning;
  const std::unique_ptr<SettingsStore> store = platform::OpenSettingsStore(application, &warning);
  if (!warning.empty()) std::fprintf(stderr, "lintrel-cli: %s\n", warning.c_str());

  const cli::ParseResult parsed = cli::ParseCliOptions(args, keyboards, LoadStoredSettings(*store));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "lintrel-cli: %s\n", parsed.error.c_str());
    return 2;
  }
  cli::CliOptions options = parsed.options;
  if (options.version) {
    std::puts("lintrel-cli " LINTREL_VERSION "\n" LINTREL_COPYRIGHT);
    return 0;
  }
  if (options.help) {
    const std::string usage = cli::CliUsage(keyboards, platform::DefaultDevicePath(1) + " for COM1", location);
    std::fputs(usage.c_str(), stdout);
    return 0;
  }
  if (const std::string outside = OutOfListWarning(options.line); !outside.empty()) {
    std::fprintf(stderr, "lintrel-cli: %s\n", outside.c_str());
  }
  if (options.save && !Save(*store, options, location)) return 1;
  if (options.list_ports) {
    ListPorts(platform::ListSystemPorts(*store), LoadLineSettings(*store).port_name);
    return 0;
  }
  if (options.save && options.ports.empty()) return 0;

  // Before any thread starts, so that the stop signals reach this thread's wait.
  const std::unique_ptr<platform::StopSignal> stop = platform::StopSignal::Install();
  int status = 0;
  if (options.demo) {
    status = cli::RunDemo(options, *stop, stdout, stderr);
  } else {
    ResolveDevicePaths(options, *store);
    status = Run(options, *stop);
  }
  stop->PortsReleased();
  return status;
}
