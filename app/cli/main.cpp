#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/cli_app.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_settings.h"
#include "app/cli/demo.h"
#include "app/cli/records_cli.h"
#include "app/version.h"
#include "common/port_number.h"
#include "capture/records/record_stage.h"
#include "common/printable_text.h"
#include "discovery/system_ports.h"
#include "platform/clipboard.h"
#include "platform/command_line.h"
#include "platform/device_monitor.h"
#include "platform/foreground_window.h"
#include "platform/keyboard.h"
#include "platform/serial_port.h"
#include "platform/standard_streams.h"
#include "platform/stop_signal.h"
#include "platform/system_settings.h"
#include "platform/text_code_page.h"
#include "settings/layered_settings.h"
#include "settings/line_settings_store.h"
#include "settings/memory_settings_store.h"
#include "settings/port_profile.h"
#include "settings/settings_file.h"

namespace {

using namespace lintrel;

// The settings belong to the program by its file name, as on Windows ("lintrel-cli"). The
// name is UTF-8 on every system, so it is cut by hand rather than through a path, which on
// Windows reads a narrow text in the ANSI code page.
std::string ApplicationName(const std::vector<std::string>& command_line) {
  std::string name = command_line.empty() ? "" : command_line.front();
  name.erase(0, name.find_last_of("/\\") + 1);
  if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.erase(dot);
  return name.empty() ? "lintrel-cli" : name;
}

// The saved line settings; the port name is left empty when none was saved, so that
// --port stays required until one is.
LineSettings LoadStoredSettings(SettingsStore& store) {
  LineSettings stored = LoadLineSettings(store);
  if (!store.ReadString(kPortEntry)) stored.port_name.clear();
  return stored;
}

// What a port's section keeps: its profile, without the line positions given for every
// port, which are the shared line settings.
PortProfile SavedProfile(const cli::CliOptions& options, const cli::PortRequest& port) {
  PortProfile saved = port.profile;
  for (std::optional<int> PortProfile::*position : {&PortProfile::baud_index, &PortProfile::parity_index,
                                                    &PortProfile::data_bit_index, &PortProfile::stop_bit_index}) {
    if (options.given_for_all.*position == saved.*position) saved.*position = std::nullopt;
  }
  return saved;
}

void PrintMessages(const std::vector<std::string>& messages) {
  for (const std::string& message : messages) cli::PrintMessage(stderr, "lintrel-cli: ", message);
}

// The stored settings under the command line and the policies over it (each damaged stored
// value, and each option a policy overrules, is one status line); `command_line` becomes
// the settings' layer of the command line.
void ApplySettings(LayeredSettings& settings, cli::CliOptions& options, MemorySettingsStore& command_line) {
  command_line = cli::CommandLineSettings(options);
  if (options.show_settings) {
    for (int port : cli::PortsToShow(settings, options)) {
      if (std::none_of(options.ports.begin(), options.ports.end(),
                       [port](const cli::PortRequest& given) { return given.port_number == port; })) {
        options.ports.push_back({.port_number = port, .device_path = {}});
      }
    }
  }
  std::vector<std::string> warnings;
  cli::ApplySettings(settings, options, &warnings);
  PrintMessages(warnings);
  settings.AddLayer({.source = SettingSource::kCommandLine, .store = &command_line, .location = "(this run's options)"});
}

bool Save(SettingsStore& store, const cli::CliOptions& options, const std::string& location) {
  LineSettings line = options.line;
  line.port_name = cli::SavedPortName(options);
  // Until a port is given, none is saved: an empty "Port" would read as a saved choice.
  const bool names_port = !line.port_name.empty() || store.ReadString(kPortEntry).has_value();
  if (!options.ports.empty()) {
    WriteSavedPortNames(store, cli::SavedPortNames(options));
    for (const cli::PortRequest& port : options.ports) {
      // A device given with the port is what the port is from now on: its pin.
      if (!port.device_path.empty()) store.WriteString(DevicePinEntry(port.port_number), port.device_path);
      WritePortProfile(store, port.port_number, SavedProfile(options, port));
    }
  }
  std::string error;
  const bool saved = names_port ? SaveLineSettings(store, line, &error) : SaveLinePositions(store, line, &error);
  if (!saved) {
    cli::PrintMessage(stderr, "lintrel-cli: ", "--save: " + error);
    return false;
  }
  cli::PrintMessage(stderr, "lintrel-cli: ", "settings saved in " + location);
  return true;
}

// The pins a save leaves: the saved ones, and each device given with a --port (see Save).
DevicePins PinsAfterSave(DevicePins pins, const cli::CliOptions& options) {
  for (const cli::PortRequest& port : options.ports) {
    if (!port.device_path.empty()) pins[port.port_number] = port.device_path;
  }
  return pins;
}

// The dialog's Port list: one port per line, the saved port marked with "*", with its
// device and, where it has one, the identity a connection follows it by.
void ListPorts(const PortList& ports, const std::string& saved_port, DeviceIdentities& identities) {
  const std::optional<std::size_t> selected = ports.FindSaved(saved_port);
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const PortEntry& entry = ports.entries()[i];
    std::string device = entry.device_path.empty() ? "" : "  " + EscapeControlCharacters(entry.device_path);
    if (!entry.device_path.empty()) {
      const std::optional<DeviceIdentity> identity = identities.IdentityOf(entry.device_path);
      if (identity && identity->follows) device += "  (" + EscapeControlCharacters(identity->description) + ")";
    }
    std::printf("%s %s%s\n", selected == i ? "*" : " ", EscapeControlCharacters(entry.name).c_str(), device.c_str());
  }
}

int Run(const cli::CliOptions& options, platform::StopSignal& stop, const DevicePins& pins) {
  std::string error;
  std::string chosen = "none";
  // --monitor opens no keyboard at all: whatever happens, it types nothing.
  // Refused before a keyboard is opened when --keys says it all, else once auto has chosen.
  if (const std::string refusal = cli::DeliveryRefusal(options, options.keys); !refusal.empty()) {
    cli::PrintMessage(stderr, "lintrel-cli: ", refusal);
    return 2;
  }
  std::shared_ptr<platform::Keyboard> keyboard;
  if (options.monitor) {
    keyboard = std::make_shared<cli::NoKeyboard>();
  } else {
    keyboard = cli::OpenKeyboard(options, stdout, &error, &chosen);
  }
  if (!keyboard) {
    cli::PrintMessage(stderr, "lintrel-cli: ", "--keys " + chosen + ": " + error);
    return 1;
  }
  if (const std::string refusal = cli::DeliveryRefusal(options, chosen); !refusal.empty()) {
    cli::PrintMessage(stderr, "lintrel-cli: ", refusal);
    return 2;
  }
  // The desktop is looked at only for ports with a target (without one, lines go to the
  // window in front as ever) or a sound for lines not typed.
  std::unique_ptr<platform::ForegroundWindows> windows;
  if (!options.monitor && (cli::AnyTarget(options) || cli::AnySoundNotTyped(options))) {
    windows = platform::OpenForegroundWindows(&error);
    if (!windows) {
      const char* option = cli::AnyTarget(options) ? "--target: " : "--sound-not-typed: ";
      cli::PrintMessage(stderr, "lintrel-cli: ", option + error);
      return 1;
    }
  }
  std::shared_ptr<platform::Clipboard> clipboard;
  if (!options.monitor && cli::AnyPaste(options)) {
    clipboard = platform::OpenSystemClipboard(&error);
    if (!clipboard) {
      cli::PrintMessage(stderr, "lintrel-cli: ", "--delivery paste: " + error);
      return 1;
    }
  }
  std::unique_ptr<platform::SerialDriver> driver = platform::MakeSystemSerialDriver();
  // Ports given without a device path are resolved through a scan of the system's ports,
  // made only while a port has no device noted yet (at its first open, as a rule).
  const DevicePathResolver system_paths = [&pins](int port_number) {
    return ResolveDevicePath(ListSystemPorts(pins), port_number, pins);
  };
  const std::unique_ptr<DeviceIdentities> identities = MakeSystemDeviceIdentities();
  cli::CliApp app(options, std::move(keyboard), *driver, stderr, system_paths, identities.get());
  app.UseDelivery(std::move(windows));
  app.UseClipboard(std::move(clipboard));
  if (options.monitor) {
    app.SetLineMonitor(std::make_shared<cli::MonitorPrinter>(stdout));
    app.status().Print("monitor: lines are shown, not typed");
  } else if (const std::string choice = cli::KeyboardChoiceText(options, chosen); !choice.empty()) {
    app.status().Print(choice);
  }
  // Without the system's notices, a device that comes back is found by the retry each second.
  // The watch starts before the first open, so that the program is whole once a port reports
  // itself connected.
  const std::unique_ptr<platform::DeviceMonitor> monitor = platform::MakeSystemDeviceMonitor();
  if (monitor && !monitor->Start([&app] { app.DeviceArrived(); }, &error)) {
    app.status().Print(error + "; a port whose device comes back is re-opened within a second");
  }
  if (!app.ConnectAll()) {
    if (monitor) monitor->Stop();
    return 1;
  }
  app.Serve(stop);
  app.status().Print("stopping");
  if (monitor) monitor->Stop();
  const Typist::Finished finished = app.Release();
  const int status = cli::ReportEnd(app.status(), finished);
  cli::ExitIfTypistLeftBehind(finished, stop, status);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (!platform::EnsureStandardStreams()) return 1;
  const std::vector<std::string> command_line = platform::CommandLineArguments(argc, argv);
  const std::vector<std::string> args(command_line.begin() + (command_line.empty() ? 0 : 1), command_line.end());
  const std::vector<std::string> keyboards = platform::SystemKeyboardNames();
  const std::string application = ApplicationName(command_line);
  const std::string location = platform::SettingsLocation(application);
  std::vector<std::string> warnings;
  const platform::ProgramSettings settings = platform::OpenProgramSettings(application, LINTREL_POLICY_FILE, &warnings);
  LayeredSettings& store = *settings.store;
  PrintMessages(warnings);

  const cli::ParseResult parsed =
      cli::ParseCliOptions(args, keyboards, LoadStoredSettings(store), LoadSavedPortNames(store));
  if (!parsed.error.empty()) {
    cli::PrintMessage(stderr, "lintrel-cli: ", parsed.error);
    return 2;
  }
  cli::CliOptions options = parsed.options;
  MemorySettingsStore options_layer;  // the command line's layer of settings
  ApplySettings(store, options, options_layer);
  const std::vector<std::string> overruled = cli::OverruledOptions(store);
  if (options.show_settings) {
    std::fputs(cli::EffectiveSettingsText(store, options, platform::DefaultTextEncoding()).c_str(), stdout);
    return 0;
  }
  if (options.save && !overruled.empty()) {
    for (const std::string& line : overruled) cli::PrintMessage(stderr, "lintrel-cli: --save: not saved: ", line);
    return 1;
  }
  PrintMessages(overruled);
  if (options.version) {
    std::puts("lintrel-cli " LINTREL_VERSION "\n" LINTREL_COPYRIGHT);
    return 0;
  }
  if (options.help) {
    const std::string usage = cli::CliUsage(keyboards, DefaultDevicePath(1) + " for " + PortName(1), location);
    std::fputs(usage.c_str(), stdout);
    return 0;
  }
  if (const std::string outside = OutOfListWarning(options.line); !outside.empty()) {
    cli::PrintMessage(stderr, "lintrel-cli: ", outside);
  }
  if (options.save && !Save(store, options, location)) return 1;
  if (options.list_ports) {
    // The ports as saved, the pins just saved among them.
    const std::vector<std::string> saved = LoadSavedPortNames(store);
    ListPorts(ListSystemPorts(options.save ? PinsAfterSave(settings.device_pins, options) : settings.device_pins),
              saved.empty() ? "" : saved.front(), *MakeSystemDeviceIdentities());
    return 0;
  }
  if (options.save && options.ports.empty()) return 0;
  if (options.preview) return cli::RunPreview(options, std::cin, stdout);

  // Before any thread starts, so that the stop signals reach this thread's wait.
  const std::unique_ptr<platform::StopSignal> stop = platform::StopSignal::Install();
  int status = 0;
  if (options.demo) {
    status = cli::RunDemo(options, *stop, stdout, stderr);
  } else {
    status = Run(options, *stop, settings.device_pins);
  }
  stop->PortsReleased();
  return status;
}
