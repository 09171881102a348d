#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "settings/capture_options.h"
#include "settings/line_settings.h"
#include "settings/port_profile.h"
#include "settings/shaping_rules.h"
#include "settings/text_encoding.h"

namespace lintrel::cli {

struct PortRequest {
  int port_number = 0;
  std::string device_path;  // empty: the platform's default path for the port
  // The options given after this --port (and before the next): this port's alone.
  PortProfile profile{};
};

struct CliOptions {
  std::vector<PortRequest> ports;
  // No --port was given: the ports are the saved ones, and one that cannot be opened at
  // start is retried every second like a lost link (a service started at login must not
  // end because a scanner is not plugged in yet).
  bool ports_from_settings = false;
  LineSettings line;
  int end_character = CaptureOptions::kDefaultEndCharacter;
  bool truncate = false;
  bool prefix = false;
  ShapingRules shaping;
  RecordRules records;  // the record options given for every port
  // The port options given before any --port, which apply to every port (also set in the
  // values above).
  PortProfile given_for_all;
  int reconnect_delay_ms = CaptureOptions::kDefaultReconnectDelayMs;
  std::string keys;  // "trace" or one of the platform's keyboards
  std::string layout;  // --layout LAYOUT[:VARIANT] for the uinput keyboard; empty: the system's
  // Given for every port (as the values above; each port's own are in its profile); unset:
  // the platform's default.
  std::optional<TextEncoding> encoding;
  int key_delay_ms = 0;
  int line_delay_ms = 0;
  bool demo = false;
  bool help = false;
  bool version = false;
  bool save = false;        // store the line settings as the defaults of later runs
  bool list_ports = false;  // print the serial ports and end
  bool show_settings = false;  // print every value in use, with where it comes from, and end
  bool monitor = false;     // show what arrives and what it would type; type nothing
  bool preview = false;     // run lines from standard input through a port's rules
};

struct ParseResult {
  CliOptions options;
  std::string error;  // one line naming the option and what it accepts; empty when fine
};

// Parses the arguments after the program name. `keyboards` are the platform's real
// keyboards; the first is the default for --keys. `stored` holds the saved line settings,
// the defaults of the line options. Without --port, the ports named by `saved_ports` are
// captured (names that name no port, and repeats, are left out), else the port of `stored`
// when it names one; an empty port name means no port was saved.
ParseResult ParseCliOptions(std::span<const std::string> args, const std::vector<std::string>& keyboards,
                            const LineSettings& stored = LineSettings{.port_name = ""},
                            const std::vector<std::string>& saved_ports = {});

// Each port's profile as it runs: its stored profile (`stored`, by port number), then the
// options given for every port, then the port's own.
void ApplyStoredProfiles(CliOptions& options, const std::function<PortProfile(int port_number)>& stored);

// The line settings and the capture rules port `request` runs with.
LineSettings LineSettingsOf(const CliOptions& options, const PortRequest& request);
PortCaptureRules CaptureRulesOf(const CliOptions& options, const PortRequest& request);

// The port of the first --port as the settings store it ("COM3").
std::string SavedPortName(const CliOptions& options);

// The names of every --port, in order, as the settings store them.
std::vector<std::string> SavedPortNames(const CliOptions& options);

// The --help text. `default_device` describes the default device path ("/dev/ttyS0 for
// COM1"); `settings_location` says where --save stores the settings.
std::string CliUsage(const std::vector<std::string>& keyboards, const std::string& default_device,
                     const std::string& settings_location);

}  // namespace lintrel::cli
