#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_process.h"

namespace lintrel::testing {

// How many safety limits a wait for a Wine program lasts. Every Wine process talks to its
// server for each system call, so busy cores slow it down many times over: with both cores
// of the test machine loaded, a start of lintrel.exe took more than 5 s, a trivial case 20 s
// instead of 4, and the fixed limits of 5 and 10 s failed cases that passed unloaded.
inline constexpr int kWinePatience = 4;

inline std::string WithoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

// A Wine prefix of its own in a temporary folder, with its server kept running for the
// whole suite (the volatile HKLM\HARDWARE keys live only as long as the server does). Its
// windows go to the X display given, with no window manager; or, with `virtual_desktop`, into
// one Wine desktop window of 1024x768 with a taskbar and a notification area, where
// Win32 screen coordinates are the display's own.
class WinePrefix {
 public:
  static constexpr const char* kWine = "/usr/bin/wine";
  static constexpr const char* kWineServer = "/usr/bin/wineserver";

  static bool WineInstalled() { return access(kWine, X_OK) == 0 && access(kWineServer, X_OK) == 0; }

  // Creates and boots the prefix for `display` (":91"); null and *error on failure.
  static std::unique_ptr<WinePrefix> Create(const std::string& display, std::string* error,
                                            bool virtual_desktop = false) {
    char pattern[] = "/tmp/lintrel-wine-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      *error = "cannot create a temporary folder";
      return nullptr;
    }
    std::unique_ptr<WinePrefix> prefix(new WinePrefix(pattern, display));
    if (!prefix->Boot(virtual_desktop, error)) return nullptr;
    return prefix;
  }

  WinePrefix(const WinePrefix&) = delete;
  WinePrefix& operator=(const WinePrefix&) = delete;

  ~WinePrefix() {
    // Ends this prefix's server and every process still running in it.
    Run({"wineserver", "-k"});
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path prefix() const { return root_ / "pfx"; }
  // Where Wine looks up the device behind COMn: the link dosdevices/comn.
  std::filesystem::path ComPortLink(int port_number) const {
    return prefix() / "dosdevices" / ("com" + std::to_string(port_number));
  }
  // Where the prefix keeps a file that its programs know as C:\...
  std::filesystem::path DriveCPath(const std::string& windows_path) const {
    std::string path = windows_path.substr(3);
    std::replace(path.begin(), path.end(), '\\', '/');
    return prefix() / "drive_c" / path;
  }
  // The name a Windows program of the prefix knows a file by (drive Z: is the root).
  static std::string WindowsPath(const std::filesystem::path& path) {
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
  }

  // Runs a Windows program (or Wine tool) to its end; its output without carriage returns.
  // `patience` counts safety limits: booting a prefix takes several seconds.
  CommandResult Run(const std::vector<std::string>& args, const std::vector<std::string>& environment = {},
                    int patience = kWinePatience) const {
    CommandResult result = RunToEnd(CommandLine(args, environment), patience);
    result.out = WithoutCarriageReturns(result.out);
    result.err = WithoutCarriageReturns(result.err);
    return result;
  }

  // Starts a Windows program and leaves it running.
  std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args,
                                      const std::vector<std::string>& environment = {}) const {
    auto child = std::make_unique<ChildProcess>("/usr/bin/env", CommandLine(args, environment));
    child->SetPatience(kWinePatience);
    return child;
  }

  // Imports registry text (REGEDIT4 format) with regedit.
  bool ImportRegistry(const std::string& text, std::string* error) const {
    const std::filesystem::path file = root_ / "import.reg";
    std::ofstream(file) << "REGEDIT4\r\n\r\n" << text;
    const CommandResult result = Run({"regedit", "/S", file.string()});
    if (!result.Succeeded()) *error = "regedit failed: " + result.err;
    return result.Succeeded();
  }

  // The data of a registry value as `reg query` prints it ("COM5", "0x4"); empty when the
  // value is missing.
  std::optional<std::string> QueryValue(const std::string& key, const std::string& name) const {
    const CommandResult result = Run({"reg", "query", key, "/v", name});
    if (!result.Succeeded()) return std::nullopt;
    // "    NAME    REG_TYPE    DATA": the fields are separated by four spaces.
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
      const std::size_t type = line.find("    REG_");
      if (type == std::string::npos) continue;
      const std::size_t data = line.find("    ", type + 4);
      return data == std::string::npos ? std::string() : line.substr(data + 4);
    }
    return std::nullopt;
  }

 private:
  WinePrefix(std::filesystem::path root, std::string display) : root_(std::move(root)), display_(std::move(display)) {}

  std::vector<std::string> CommandLine(const std::vector<std::string>& args,
                                       const std::vector<std::string>& environment) const {
    std::vector<std::string> line = {"WINEPREFIX=" + prefix().string(), "WINEDEBUG=-all",
                                     "WINEDLLOVERRIDES=mscoree,mshtml=", "DISPLAY=" + display_};
    line.insert(line.end(), environment.begin(), environment.end());
    // wineboot and wineserver are programs of their own, and they leave the server (and
    // Wine's own services) running: give those no pipe of the harness to hold open.
    const bool is_tool = args.front() == "wineboot" || args.front() == "wineserver";
    if (is_tool) {
      line.insert(line.end(), {"/bin/sh", "-c", "exec \"$@\" </dev/null >/dev/null 2>&1", "sh",
                               "/usr/bin/" + args.front()});
      line.insert(line.end(), args.begin() + 1, args.end());
      return line;
    }
    line.push_back(kWine);
    line.insert(line.end(), args.begin(), args.end());
    return line;
  }

  bool Boot(bool virtual_desktop, std::string* error) {
    const CommandResult boot = Run({"wineboot", "-i"}, {}, 3 * kWinePatience);
    if (!boot.Succeeded()) {
      *error = "wineboot failed: " + boot.err;
      return false;
    }
    // A crash must not open the debugger's dialog and wait for a user. The desktop mode is
    // read when Wine's desktop starts, hence before the restart below.
    std::string settings =
        "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n\"ShowCrashDialog\"=dword:00000000\r\n";
    if (virtual_desktop) {
      settings +=
          "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n\"Desktop\"=\"Default\"\r\n"
          "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n\"Default\"=\"1024x768\"\r\n";
    }
    if (!ImportRegistry(settings, error)) return false;
    // Restart the server as a persistent one, so that it (and with it the volatile registry
    // keys) stays until the destructor ends it, and boot Wine's services again under it.
    Run({"wineserver", "-k"});
    const CommandResult persist = Run({"wineserver", "-p"});
    if (!persist.Succeeded()) {
      *error = "wineserver -p failed";
      return false;
    }
    Run({"wineboot"}, {}, 2 * kWinePatience);
    return true;
  }

  std::filesystem::path root_;
  std::string display_;
};

}  // namespace lintrel::testing
