#include "app/cli/cli_options.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>
#include <optional>
#include <string_view>

#include "capture/line_parameters.h"
#include "capture/records/record_stage.h"
#include "common/network_address.h"
#include "common/port_number.h"
#include "common/text_escapes.h"
#include "platform/keyboard_choice.h"
#include "settings/pacing.h"

namespace lintrel::cli {

namespace {

constexpr std::array<std::string_view, 5> kParityNames = {"none", "odd", "even", "mark", "space"};

std::string Join(std::span<const std::string> items, std::string_view separator) {
  std::string joined;
  for (const std::string& item : items) {
    if (!joined.empty()) joined += separator;
    joined += item;
  }
  return joined;
}

std::string BaudList() {
  std::vector<std::string> rates;
  for (uint32_t rate : kBaudRates) rates.push_back(std::to_string(rate));
  return Join(rates, ", ");
}

// A whole decimal number, or hexadecimal after "0x" when allowed, from `low` to `high`;
// nothing else. A number too large for an int is out of range, not wrapped.
std::optional<int> ParseNumber(std::string_view text, int low, int high, bool allow_hex = false) {
  int base = 10;
  if (allow_hex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  // from_chars takes a '-' sign; the numbers here are all written without one.
  if (text.empty() || text.front() == '-') return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < low || value > high) return std::nullopt;
  return value;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// "COMn" or "COMn=DEVICE", COMn a port name.
std::optional<PortRequest> ParsePortRequest(std::string_view text) {
  const std::size_t equals = text.find('=');
  const std::optional<int> number = ParsePortName(text.substr(0, equals));
  if (!number) return std::nullopt;
  PortRequest request;
  request.port_number = *number;
  if (equals != std::string_view::npos) {
    request.device_path = std::string(text.substr(equals + 1));
    if (request.device_path.empty()) return std::nullopt;
  }
  return request;
}

// The options a profile file may hold: a port's own.
constexpr std::array<std::string_view, 33> kProfileFileOptions = {
    "--baud",        "--parity",       "--data-bits",     "--stop-bits",   "--end-char",     "--truncate",
    "--no-truncate", "--prefix",       "--no-prefix",     "--prefix-text", "--suffix",       "--replace",
    "--no-replace",  "--control",      "--pattern",       "--unmatched",   "--gs1",          "--no-gs1",
    "--template",    "--repeat-window", "--send-on-connect", "--poll",     "--poll-every",   "--reply-timeout",
    "--encoding",    "--key-delay",    "--line-delay",    "--reconnect-delay", "--target",  "--elsewhere",
    "--delivery",    "--sound-not-typed", "--no-sound-not-typed"};

}  // namespace

std::optional<std::vector<std::string>> ProfileFileOptions(std::string_view text, std::string* problem) {
  std::vector<std::string> arguments;
  std::size_t line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') continue;
    line.remove_prefix(first);
    // "--name value" or "--name=value": the value is the rest of the line, kept as it is.
    const std::size_t split = line.find_first_of(" =");
    const std::string_view name = line.substr(0, split);
    if (std::find(kProfileFileOptions.begin(), kProfileFileOptions.end(), name) == kProfileFileOptions.end()) {
      *problem = "line " + std::to_string(line_number) + ": \"" + std::string(name) +
                 "\" is not an option of a port's profile";
      return std::nullopt;
    }
    arguments.push_back(split == std::string_view::npos ? std::string(name)
                                                        : std::string(name) + "=" + std::string(line.substr(split + 1)));
  }
  return arguments;
}

namespace {

class Parser {
 public:
  Parser(std::span<const std::string> args, const std::vector<std::string>& keyboards, const LineSettings& stored,
         const std::vector<std::string>& saved_ports)
      : args_(args), keyboards_(keyboards), saved_ports_(saved_ports) {
    options_.line = stored;
    if (saved_ports_.empty() && !stored.port_name.empty()) saved_ports_.push_back(stored.port_name);
  }

  ParseResult Run() {
    ParseResult result;
    options_.keys = keyboards_.empty() ? "trace" : keyboards_.front();
    while (error_.empty() && next_ < args_.size()) ParseOne(args_[next_++]);
    const bool runs_ports =
        !options_.help && !options_.version && !options_.demo && !options_.list_ports && !options_.save;
    if (error_.empty() && options_.ports.empty() && (runs_ports || options_.preview || options_.show_settings)) {
      UseSavedPorts();
    }
    if (error_.empty() && options_.preview) CheckPreview();
    if (error_.empty() && options_.demo && !options_.ports.empty()) {
      error_ = "--demo brings its own virtual ports: leave out --port";
    }
    // The demo types into real windows only when asked to.
    if (options_.demo && !keys_given_) options_.keys = "trace";
    result.options = options_;
    result.error = error_;
    return result;
  }

 private:
  void ParseOne(const std::string& arg) {
    std::string_view option = arg;
    std::optional<std::string> inline_value;
    if (option.rfind("--", 0) == 0) {
      if (const std::size_t equals = option.find('='); equals != std::string_view::npos) {
        inline_value = std::string(option.substr(equals + 1));
        option = option.substr(0, equals);
      }
    }
    const std::string name(option);

    if (name == "--help" || name == "-h") return Flag(name, inline_value, options_.help);
    if (name == "--version") return Flag(name, inline_value, options_.version);
    if (name == "--demo") return Flag(name, inline_value, options_.demo);
    if (name == "--truncate") return PortFlag(name, inline_value, &PortProfile::truncate, options_.truncate, true);
    if (name == "--no-truncate") return PortFlag(name, inline_value, &PortProfile::truncate, options_.truncate, false);
    if (name == "--prefix") return PortFlag(name, inline_value, &PortProfile::prefix, options_.prefix, true);
    if (name == "--no-prefix") return PortFlag(name, inline_value, &PortProfile::prefix, options_.prefix, false);
    if (name == "--no-replace") return NoReplacements(name, inline_value);
    if (name == "--save") return Flag(name, inline_value, options_.save);
    if (name == "--list-ports") return Flag(name, inline_value, options_.list_ports);
    if (name == "--show-settings") return Flag(name, inline_value, options_.show_settings);
    if (name == "--gs1") return PortFlag(name, inline_value, &PortProfile::gs1, options_.records.gs1, true);
    if (name == "--no-gs1") return PortFlag(name, inline_value, &PortProfile::gs1, options_.records.gs1, false);
    if (name == "--sound-not-typed" || name == "--no-sound-not-typed") return SoundNotTyped(name, inline_value);
    if (name == "--monitor") return Flag(name, inline_value, options_.monitor);
    if (name == "--preview") return Flag(name, inline_value, options_.preview);

    static constexpr std::array<std::string_view, 28> kValueOptions = {
        "--target", "--elsewhere", "--delivery",
        "--port",     "--baud",       "--parity",    "--data-bits", "--stop-bits", "--end-char",
        "--reconnect-delay", "--keys", "--layout",   "--prefix-text", "--suffix", "--replace",
        "--control",  "--encoding",   "--key-delay", "--line-delay", "--pattern", "--unmatched",
        "--template", "--repeat-window", "--send-on-connect", "--poll", "--poll-every",
        "--reply-timeout", "--profile"};
    if (name.rfind("--", 0) != 0) {
      error_ = "unexpected argument " + name + " (see --help)";
      return;
    }
    if (std::find(kValueOptions.begin(), kValueOptions.end(), name) == kValueOptions.end()) {
      error_ = "unknown option " + name + " (see --help)";
      return;
    }
    const std::optional<std::string> value = Value(name, inline_value);
    if (!value) return;
    if (name == "--port") return Port(*value);
    if (name == "--baud") return Baud(*value);
    if (name == "--parity") return Parity(*value);
    if (name == "--data-bits") return Choice(name, *value, {"7", "8"}, &PortProfile::data_bit_index);
    if (name == "--stop-bits") return Choice(name, *value, {"1", "2"}, &PortProfile::stop_bit_index);
    if (name == "--end-char") return EndCharacter(*value);
    if (name == "--reconnect-delay") return ReconnectDelay(*value);
    if (name == "--layout") return Layout(*value);
    if (name == "--prefix-text") return Text(name, *value, &PortProfile::prefix_text, options_.shaping.prefix_text);
    if (name == "--suffix") return Text(name, *value, &PortProfile::suffix, options_.shaping.suffix);
    if (name == "--replace") return Replace(*value);
    if (name == "--control") return Control(*value);
    if (name == "--encoding") return Encoding(*value);
    if (name == "--key-delay") {
      return Delay(name, *value, kMaxKeyDelayMs, &PortProfile::key_delay_ms, options_.key_delay_ms);
    }
    if (name == "--line-delay") {
      return Delay(name, *value, kMaxLineDelayMs, &PortProfile::line_delay_ms, options_.line_delay_ms);
    }
    if (name == "--pattern") return RecordText(*value, &PortProfile::pattern, &RecordRules::pattern, RuleSyntax::kPattern);
    if (name == "--template") return RecordText(*value, &PortProfile::template_text, &RecordRules::template_text,
                                                  RuleSyntax::kTemplate);
    if (name == "--unmatched") return Unmatched(*value);
    if (name == "--repeat-window") return RepeatWindow(*value);
    if (name == "--send-on-connect") return RequestText(name, *value, &PortProfile::send_on_connect);
    if (name == "--poll") return RequestText(name, *value, &PortProfile::poll);
    if (name == "--poll-every") {
      return RequestTime(name, *value, PortRequests::kMinPollEveryMs, PortRequests::kMaxPollEveryMs,
                         &PortProfile::poll_every_ms);
    }
    if (name == "--reply-timeout") {
      return RequestTime(name, *value, PortRequests::kMinReplyTimeoutMs, PortRequests::kMaxReplyTimeoutMs,
                         &PortProfile::reply_timeout_ms);
    }
    if (name == "--profile") return Profile(*value);
    if (name == "--target") return Target(*value);
    if (name == "--elsewhere") return ElsewhereOption(*value);
    if (name == "--delivery") return DeliveryOption(*value);
    Keys(*value);
  }

  // `value` with its escapes read; none, with the error set, when an escape is wrong.
  std::optional<std::string> Unescaped(const std::string& name, const std::string& value) {
    std::string problem;
    std::optional<std::string> text = ParseEscapes(value, &problem);
    if (!text) error_ = name + ": " + problem;
    return text;
  }

  // A text sent to the device; empty sends nothing (and turns a saved one off).
  void RequestText(const std::string& name, const std::string& value, std::optional<std::string> PortProfile::*field) {
    if (const std::optional<std::string> text = Unescaped(name, value)) Scope().*field = *text;
  }

  void RequestTime(const std::string& name, const std::string& value, int low, int high,
                   std::optional<int> PortProfile::*field) {
    const std::optional<int> time = ParseNumber(value, low, high);
    if (!time) {
      error_ = name + ": \"" + value + "\" is not a number of milliseconds from " + std::to_string(low) + " to " +
               std::to_string(high);
      return;
    }
    Scope().*field = *time;
  }

  // The options of a profile file, each taken as if given here: before any --port for every
  // port, after one for that port. See ProfileFileOptions().
  void Profile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    if (!file || text.bad()) {
      error_ = "--profile: cannot read \"" + path + "\"";
      return;
    }
    std::string problem;
    const std::optional<std::vector<std::string>> arguments = ProfileFileOptions(text.str(), &problem);
    if (!arguments) {
      error_ = "--profile " + path + ": " + problem;
      return;
    }
    for (const std::string& argument : *arguments) {
      ParseOne(argument);
      if (!error_.empty()) {
        error_ = "--profile " + path + ": " + error_;
        return;
      }
    }
  }

  // Options given after a --port are that port's; before any, they are every port's.
  PortProfile& Scope() { return options_.ports.empty() ? options_.given_for_all : options_.ports.back().profile; }
  bool ForAll() const { return options_.ports.empty(); }

  // A line position: every port's (the shared line settings) or the last port's.
  void SetPosition(std::optional<int> PortProfile::*value, int position) {
    Scope().*value = position;
    if (!ForAll()) return;
    PortProfile set;
    set.*value = position;
    options_.line = set.LineOver(options_.line);
  }

  // --truncate and --no-truncate (and the like): the later one stands, also over a saved value.
  void PortFlag(const std::string& name, const std::optional<std::string>& inline_value,
                std::optional<bool> PortProfile::*value, bool& for_all, bool on) {
    bool flag = false;
    Flag(name, inline_value, flag);
    if (!error_.empty()) return;
    Scope().*value = on;
    if (ForAll()) for_all = on;
  }

  void Text(const std::string& name, const std::string& value, std::optional<std::string> PortProfile::*field,
            std::string& for_all) {
    const std::optional<std::string> text = Unescaped(name, value);
    if (!text) return;
    Scope().*field = *text;
    if (ForAll()) for_all = *text;
  }

  void Replace(const std::string& value) {
    std::string problem;
    std::optional<Replacement> replacement = ParseReplacement(value, &problem);
    if (!replacement) {
      error_ = "--replace: " + problem;
      return;
    }
    // A port's own replacements come after those given for every port.
    std::optional<std::vector<Replacement>>& list = Scope().replacements;
    if (!list) list = options_.shaping.replacements;
    if (list->size() == kMaxReplacements) {
      error_ = "--replace: at most " + std::to_string(kMaxReplacements) + " replacements";
      return;
    }
    list->push_back(*replacement);
    if (ForAll()) options_.shaping.replacements = *list;
  }

  // No replacements (none saved, none given before): the --replace options after it start
  // a new list.
  void NoReplacements(const std::string& name, const std::optional<std::string>& inline_value) {
    bool flag = false;
    Flag(name, inline_value, flag);
    if (!error_.empty()) return;
    Scope().replacements = std::vector<Replacement>{};
    if (ForAll()) options_.shaping.replacements.clear();
  }

  void Control(const std::string& value) {
    const std::optional<ControlMap> map = ParseControlMap(value);
    if (!map) {
      error_ = "--control: \"" + value + "\" is not keep, drop or name";
      return;
    }
    Scope().control = *map;
    if (ForAll()) options_.shaping.control = *map;
  }

  // A pattern or template, checked by the record stage; a Tab or a character beyond ASCII
  // given as it is keeps its meaning, written as its escape.
  void RecordText(const std::string& value, std::optional<std::string> PortProfile::*field,
                  std::string RecordRules::*for_all, RuleSyntax syntax) {
    RecordRules rules;
    rules.*for_all = RuleInAscii(value, syntax);
    if (const std::string problem = records::RecordRulesError(rules); !problem.empty()) {
      error_ = problem;
      return;
    }
    Scope().*field = rules.*for_all;
    if (ForAll()) options_.records.*for_all = rules.*for_all;
  }

  void Unmatched(const std::string& value) {
    const std::optional<UnmatchedLines> unmatched = ParseUnmatchedLines(value);
    if (!unmatched) {
      error_ = "--unmatched: \"" + value + "\" is not report, drop or type";
      return;
    }
    Scope().unmatched = *unmatched;
    if (ForAll()) options_.records.unmatched = *unmatched;
  }

  void RepeatWindow(const std::string& value) {
    const std::optional<int> window = ParseNumber(value, 0, RecordRules::kMaxRepeatWindowMs);
    if (!window) {
      error_ = "--repeat-window: \"" + value + "\" is not a number of milliseconds from 0 to 60000";
      return;
    }
    Scope().repeat_window_ms = *window;
    if (ForAll()) options_.records.repeat_window_ms = *window;
  }

  // An empty target stands for none, over a saved one.
  void Target(const std::string& value) {
    if (!value.empty() && !ParseDeliveryTarget(value)) {
      error_ = "--target: \"" + value + "\" names no program: give APP or APP:TITLE-PART";
      return;
    }
    Scope().target = value;
  }

  void ElsewhereOption(const std::string& value) {
    Scope().elsewhere = ParseElsewhere(value);
    if (!Scope().elsewhere) error_ = "--elsewhere: \"" + value + "\" is not hold, activate or drop";
  }

  void SoundNotTyped(const std::string& name, const std::optional<std::string>& inline_value) {
    bool flag = false;
    Flag(name, inline_value, flag);
    if (error_.empty()) Scope().sound_not_typed = name == "--sound-not-typed";
  }

  void DeliveryOption(const std::string& value) {
    Scope().delivery = ParseDeliveryMethod(value);
    if (!Scope().delivery) error_ = "--delivery: \"" + value + "\" is not keys, unicode or paste";
  }

  // A preview tries one port's rules on lines typed in, and opens nothing.
  void CheckPreview() {
    if (options_.monitor || options_.demo || options_.save || options_.list_ports) {
      error_ = "--preview opens no port: leave out --monitor, --demo, --save and --list-ports";
    } else if (options_.ports.size() != 1) {
      error_ = "--preview tries one port's options: give it with --port COMn";
    }
  }

  // The saved ports are the default; a saved name that is not a port is ignored.
  void UseSavedPorts() {
    for (const std::string& name : saved_ports_) {
      const std::optional<int> number = ParsePortName(name);
      const bool repeated = std::any_of(options_.ports.begin(), options_.ports.end(),
                                        [&](const PortRequest& port) { return port.port_number == number; });
      if (number && !repeated) options_.ports.push_back({.port_number = *number, .device_path = {}});
    }
    // --show-settings shows the settings whatever they are, also with no port saved.
    if (options_.ports.empty() && !options_.show_settings) {
      error_ = "no port given: use --port COMn[=DEVICE] (or --demo), or save one with --save";
    }
    options_.ports_from_settings = true;
  }

  void Flag(const std::string& name, const std::optional<std::string>& inline_value, bool& flag) {
    if (inline_value) {
      error_ = name + " takes no value";
      return;
    }
    flag = true;
  }

  std::optional<std::string> Value(const std::string& name, const std::optional<std::string>& inline_value) {
    if (inline_value) return inline_value;
    if (next_ >= args_.size()) {
      error_ = name + " needs a value (see --help)";
      return std::nullopt;
    }
    return args_[next_++];
  }

  void Port(const std::string& value) {
    const std::optional<PortRequest> request = ParsePortRequest(value);
    if (!request) {
      error_ = "--port: \"" + value + "\" is not COMn or COMn=DEVICE with n from " +
               std::to_string(kLowestPortNumber) + " to " + std::to_string(kHighestPortNumber) +
               " (no leading zeros)";
      return;
    }
    if (IsNetworkAddressText(request->device_path)) {
      std::string problem;
      if (!ParseNetworkAddress(request->device_path, &problem)) {
        error_ = "--port: " + problem;
        return;
      }
    }
    for (const PortRequest& earlier : options_.ports) {
      if (earlier.port_number == request->port_number) {
        error_ = "--port: " + PortName(request->port_number) + " is given twice";
        return;
      }
      if (!request->device_path.empty() && earlier.device_path == request->device_path) {
        error_ = "--port: " + PortName(earlier.port_number) + " and " + PortName(request->port_number) +
                 " both name " + request->device_path;
        return;
      }
    }
    options_.ports.push_back(*request);
  }

  void Baud(const std::string& value) {
    const std::optional<int> rate = ParseNumber(value, 1, std::numeric_limits<int>::max());
    const std::optional<int> index = rate ? BaudIndexForRate(static_cast<uint32_t>(*rate)) : std::nullopt;
    if (!index) {
      error_ = "--baud: \"" + value + "\" is not one of " + BaudList();
      return;
    }
    SetPosition(&PortProfile::baud_index, *index);
  }

  void Parity(const std::string& value) {
    for (std::size_t code = 0; code < kParityNames.size(); ++code) {
      if (EqualsIgnoringCase(value, kParityNames[code])) {
        SetPosition(&PortProfile::parity_index, static_cast<int>(code));
        return;
      }
    }
    error_ = "--parity: \"" + value + "\" is not one of none, odd, even, mark, space";
  }

  void Choice(const std::string& name, const std::string& value, std::array<std::string_view, 2> choices,
              std::optional<int> PortProfile::*index) {
    for (std::size_t i = 0; i < choices.size(); ++i) {
      if (value == choices[i]) {
        SetPosition(index, static_cast<int>(i));
        return;
      }
    }
    error_ = name + ": \"" + value + "\" is not " + std::string(choices[0]) + " or " + std::string(choices[1]);
  }

  void EndCharacter(const std::string& value) {
    const std::optional<int> code = ParseNumber(value, 1, 31, /*allow_hex=*/true);
    if (!code) {
      error_ = "--end-char: \"" + value + "\" is not a character code from 1 to 31 (decimal, or hex as 0x0D)";
      return;
    }
    Scope().end_character = *code;
    if (ForAll()) options_.end_character = *code;
  }

  void ReconnectDelay(const std::string& value) {
    const std::optional<int> delay =
        ParseNumber(value, CaptureOptions::kMinReconnectDelayMs, CaptureOptions::kMaxReconnectDelayMs);
    if (!delay) {
      error_ = "--reconnect-delay: \"" + value + "\" is not a number of milliseconds from 500 to 5000";
      return;
    }
    Scope().reconnect_delay_ms = *delay;
    if (ForAll()) options_.reconnect_delay_ms = *delay;
  }

  void Encoding(const std::string& value) {
    const std::optional<TextEncoding> encoding = ParseTextEncoding(value);
    if (!encoding) {
      error_ = "--encoding: \"" + value + "\" is not one of ansi, utf-8, latin-1";
      return;
    }
    Scope().encoding = *encoding;
    if (ForAll()) options_.encoding = *encoding;
  }

  void Delay(const std::string& name, const std::string& value, int highest, std::optional<int> PortProfile::*field,
             int& for_all) {
    const std::optional<int> delay = ParseNumber(value, 0, highest);
    if (!delay) {
      error_ = name + ": \"" + value + "\" is not a number of milliseconds from 0 to " + std::to_string(highest);
      return;
    }
    Scope().*field = *delay;
    if (ForAll()) for_all = *delay;
  }

  void Keys(const std::string& value) {
    std::vector<std::string> accepted = keyboards_;
    accepted.push_back("trace");
    if (std::find(accepted.begin(), accepted.end(), value) == accepted.end()) {
      error_ = "--keys: \"" + value + "\" is not one of " + Join(accepted, ", ");
      return;
    }
    options_.keys = value;
    keys_given_ = true;
  }

  void Layout(const std::string& value) {
    if (std::find(keyboards_.begin(), keyboards_.end(), "uinput") == keyboards_.end()) {
      error_ = "--layout: only the uinput keyboard takes a layout, and this system has none";
      return;
    }
    if (!platform::ParseLayoutName(value)) {
      error_ = "--layout: \"" + value + "\" is not LAYOUT or LAYOUT:VARIANT (XKB names such as de or fr:azerty)";
      return;
    }
    options_.layout = value;
  }

  std::span<const std::string> args_;
  const std::vector<std::string>& keyboards_;
  std::vector<std::string> saved_ports_;
  std::size_t next_ = 0;
  bool keys_given_ = false;
  CliOptions options_;
  std::string error_;
};

}  // namespace

ParseResult ParseCliOptions(std::span<const std::string> args, const std::vector<std::string>& keyboards,
                            const LineSettings& stored, const std::vector<std::string>& saved_ports) {
  return Parser(args, keyboards, stored, saved_ports).Run();
}

void ApplyStoredProfiles(CliOptions& options, const std::function<PortProfile(int port_number)>& stored) {
  for (PortRequest& request : options.ports) {
    PortProfile profile = stored(request.port_number);
    profile.Overlay(options.given_for_all);
    profile.Overlay(request.profile);
    request.profile = std::move(profile);
  }
}

LineSettings LineSettingsOf(const CliOptions& options, const PortRequest& request) {
  return request.profile.LineOver(options.line);
}

PortCaptureRules CaptureRulesOf(const CliOptions& options, const PortRequest& request) {
  return request.profile.CaptureRules(options.shaping, options.records);
}

std::string SavedPortName(const CliOptions& options) {
  if (options.ports.empty()) return options.line.port_name;
  return PortName(options.ports.front().port_number);
}

std::vector<std::string> SavedPortNames(const CliOptions& options) {
  std::vector<std::string> names;
  for (const PortRequest& port : options.ports) names.push_back(PortName(port.port_number));
  return names;
}

namespace {

// The keyboards and --layout, on a system that has the uinput keyboard.
std::string LayoutUsage(const std::vector<std::string>& keyboards) {
  if (std::find(keyboards.begin(), keyboards.end(), "uinput") == keyboards.end()) return "";
  return "                         x11 types through the X server (XTest) with its keymap;\n"
         "                         uinput through a virtual keyboard of the kernel\n"
         "                         (/dev/uinput), which reaches Wayland programs and the\n"
         "                         console too; auto takes x11 when an X display answers\n"
         "                         and the session is not Wayland, else uinput\n"
         "  --layout L[:VARIANT]   the keyboard layout the uinput keyboard types for (de,\n"
         "                         fr:azerty; default XKB_DEFAULT_LAYOUT, else XKBLAYOUT of\n"
         "                         /etc/default/keyboard, else us)\n";
}

}  // namespace

std::string CliUsage(const std::vector<std::string>& keyboards, const std::string& default_device,
                     const std::string& settings_location) {
  std::vector<std::string> keys = keyboards;
  keys.push_back("trace");
  const std::string default_keys = keyboards.empty() ? "trace" : keyboards.front();
  return "Usage: lintrel-cli --port COMn[=DEVICE] [--port ...] [options]\n"
         "  or:  lintrel-cli --list-ports\n"
         "  or:  lintrel-cli --demo [--keys " + Join(keys, "|") + "]\n"
         "\n"
         "Reads lines that scanners, scales and other devices send over serial ports and\n"
         "types each line as key presses into the window that has the keyboard focus.\n"
         "A line ends at each end character, or at 1023 characters.\n"
         "A port whose link drops is closed and re-opened by itself.\n"
         "\n"
         "Ports:\n"
         "  --port COMn[=DEVICE]   capture port n (0 to 256, no leading zeros); repeat for several\n"
         "                         ports at once.\n"
         "                         DEVICE is the OS device path (default " + default_device + "),\n"
         "                         or a device server on the network: rfc2217://HOST:PORT (Telnet\n"
         "                         with COM Port Control: the line settings are set on the server,\n"
         "                         its carrier notices count as a local port's) or tcp://HOST:PORT\n"
         "                         (raw TCP); a connection that fails or drops is a lost link\n"
         "  --profile FILE         take the options in FILE as if given here (one a line; only a\n"
         "                         port's own options); ready ones for scales come in the\n"
         "                         program's folder profiles (/usr/share/lintrel/profiles)\n"
         "\n"
         "The line settings and the capture, shaping, reconnection, encoding and delay options\n"
         "given before any --port apply to every port; given after a --port, to that port\n"
         "alone (its profile). The keyboard (--keys) is every port's wherever given.\n"
         "\n"
         "Line settings:\n"
         "  --baud RATE            " + BaudList() + " (default 1200)\n"
         "  --parity NAME          none, odd, even, mark, space (default none)\n"
         "  --data-bits N          7 or 8 (default 8)\n"
         "  --stop-bits N          1 or 2 (default 1)\n"
         "\n"
         "Capture:\n"
         "  --end-char N           character code that ends a line, 1 to 31, decimal or 0x hex\n"
         "                         (default 13, carriage return)\n"
         "  --truncate             do not type the end character\n"
         "  --prefix               begin each line with the port's name and a colon (COM3:)\n"
         "  --no-truncate, --no-prefix\n"
         "                         the opposite, also over a saved --truncate or --prefix\n"
         "\n"
         "Shaping (in this order: end character, replacements, control characters, prefix and\n"
         "suffix; TEXT takes the escapes \\t \\r \\n \\\\ \\xHH (the character U+00HH, whatever\n"
         "the encoding) and \\u{HHHH}; texts are characters, matched against the characters\n"
         "received, so a byte that is no character (U+FFFD) is never matched by them):\n"
         "  --replace FROM=TO      type TO for every FROM (literal text); repeat for several (at most\n"
         "                         100), applied in order; a port's own come after those for every\n"
         "                         port; given, they stand for the saved list, not beside it\n"
         "  --no-replace           no replacements: neither saved ones nor those given before\n"
         "  --control MAP          control characters other than the end character: keep (default),\n"
         "                         drop, or name (typed as <GS>, <RS>, <EOT>, ...)\n"
         "  --prefix-text TEXT     type TEXT before each line (after the port's name)\n"
         "  --suffix TEXT          type TEXT after each line (\\t: Tab to the next field)\n"
         "                         A line left empty types nothing (with --prefix, the port's\n"
         "                         name alone).\n"
         "\n"
         "Records (after shaping; the pattern and GS1 see the line decoded, without its end\n"
         "character, before replacements and the control map):\n"
         "  --pattern REGEX        the line must match REGEX (RE2 syntax, searched anywhere in the\n"
         "                         line: anchor it with ^ and $); its named groups (?P<name>...)\n"
         "                         are fields\n"
         "  --unmatched WHAT       a line the pattern does not match is not typed and reported\n"
         "                         (report, the default), not typed (drop), or typed (type)\n"
         "  --gs1                  read the line as a GS1 element string (]C1, ]d2, ]Q3, ]e0 ...\n"
         "                         and GS separators): each AI is a field ({01}, {17}, {10});\n"
         "                         a line that is none (a wrong check digit, an unknown AI,\n"
         "                         a missing separator) is not typed, with the reason;\n"
         "                         --no-gs1 turns a saved --gs1 off\n"
         "  --template TEXT        type TEXT instead of the line: {name} a field, {name?} a field\n"
         "                         the line may lack, {line} the shaped line, {port}, {time:%H:%M}\n"
         "                         (strftime, the local time of arrival), {17:%Y-%m-%d} a GS1 date;\n"
         "                         the escapes of shaping; {{ and }} for braces. The prefix text and\n"
         "                         suffix are not added around it ({line} has them); a saved\n"
         "                         --pattern or --template is turned off with an empty one ('')\n"
         "  --repeat-window MS     a line equal to the line before it on its port, at most MS ms\n"
         "                         after it, is not typed (0 to 60000; default 0: typed)\n"
         "  --preview              read lines from standard input (escapes allowed) and show the\n"
         "                         fields and keys the port's options make of each; opens nothing\n"
         "  --monitor              open the ports but type nothing: show every chunk received (time,\n"
         "                         port, hex, text), each line and what it would type\n"
         "\n"
         "Requests to the device (TEXT takes the escapes of shaping; a port with none is opened\n"
         "read-only, one with a request for reading and writing):\n"
         "  --send-on-connect TEXT send TEXT each time the port is opened (also after a re-open)\n"
         "  --poll TEXT            the poll: sent every --poll-every MS while the port is connected\n"
         "                         and not paused, and on SIGUSR1; not sent while the line of the\n"
         "                         reply to the previous poll is incomplete, for at most 2 s\n"
         "  --poll-every MS        100 to 3600000 ms\n"
         "  --reply-timeout MS     report a poll with no line back within MS ms, once until a line\n"
         "                         comes (100 to 3600000; default: not reported)\n"
         "\n"
         "Delivery (where and how a port's lines are typed):\n"
         "  --target APP[:TITLE]   type the lines only into APP's window: APP a program name,\n"
         "                         matched without regard to case against the window's WM_CLASS\n"
         "                         instance and class and the program of its _NET_WM_PID (on\n"
         "                         Windows its executable, excel.exe); TITLE a part of its title.\n"
         "                         Default none: the window in front; '' turns a saved one off\n"
         "  --elsewhere WHAT       while another window is in front: hold the lines until APP is\n"
         "                         (hold, the default), bring APP to the front (activate), or\n"
         "                         report them not typed (drop). Held lines wait in order, at\n"
         "                         most 100 lines and 5 minutes a port; older ones are reported\n"
         "                         not typed, as are those still waiting at the stop\n"
         "  --delivery HOW         keys (default: the layout's keys), unicode (each character by\n"
         "                         itself, for remote sessions; chosen by itself when the target\n"
         "                         is mstsc, wfica32, CDViewer or vmware-view), or paste (the\n"
         "                         line's text pasted by Ctrl+V through the clipboard, its Enter\n"
         "                         and Tab at the end pressed as keys after it; the clipboard is\n"
         "                         put back afterwards: for long codes and programs that drop keys)\n"
         "  --sound-not-typed      the warning sound (X11: the bell) for each line not typed;\n"
         "                         --no-sound-not-typed turns a saved one off\n"
         "\n"
         "Other capture options:\n"
         "  --reconnect-delay MS   wait before re-opening a port whose link dropped,\n"
         "                         500 to 5000 ms (default 1000); retries come every second\n"
         "  --encoding NAME        how received bytes are read as characters: ansi (the system's\n"
         "                         code page; Windows-1252 where there is none), utf-8 or latin-1\n"
         "                         (default ansi on Windows, utf-8 elsewhere); bytes that are no\n"
         "                         character are typed as U+FFFD\n"
         "  --key-delay MS         wait between the keys of a line, 0 to 1000 ms (default 0);\n"
         "                         each key is pressed and released at once, never held\n"
         "  --line-delay MS        wait after each line, 0 to 10000 ms (default 0)\n"
         "  --keys NAME            " + Join(keys, ", ") + " (default " + default_keys + ").\n"
         "                         trace types nothing and writes each key event to standard\n"
         "                         output as \"down 0xHH\" or \"up 0xHH\" (HH the Windows virtual-key\n"
         "                         code on a US keyboard), flushed after every line\n" +
         LayoutUsage(keyboards) +
         "\n"
         "Other:\n"
         "  --demo                 two simulated scanners on virtual ports (pseudo-terminals):\n"
         "                         shows lines captured and typed, and a reconnection; its keys\n"
         "                         are shown, not typed, unless --keys names a real keyboard\n"
         "  --save                 store every --port (a DEVICE given as the port's pin) and the\n"
         "                         line settings as the defaults of later runs, and each port's\n"
         "                         profile (its own options and the capture and shaping options\n"
         "                         for every port) in its [COMn] section, in\n"
         "                         " + settings_location + "; without --port, store the\n"
         "                         line settings and end. An option given that a policy of the\n"
         "                         administrator sets otherwise is not stored over it: --save\n"
         "                         then stores nothing, names it and exits 1\n"
         "  --list-ports           print the serial ports in the order a Port list shows them,\n"
         "                         the saved port marked with *, and end\n"
         "  --show-settings        print every value in use, the shared ones and each port's,\n"
         "                         with where it comes from (default, machine, recommended\n"
         "                         policy, user, command line, policy), and end; with other\n"
         "                         options, as a run with them would use them\n"
         "  --help                 this text\n"
         "  --version              print the version and end\n"
         "\n"
         "Without --port, every saved port is captured; one that cannot be opened is retried\n"
         "every second. The line options default to the saved settings (first start: 1200\n"
         "baud, no parity, 8 data bits, 1 stop bit).\n"
         "\n"
         "A port re-opens only the device it first opened, found by its identity (USB vendor,\n"
         "product, serial number and interface; the Bluetooth address of an rfcomm port; else\n"
         "its /dev/serial link or path), and follows it to a new name; a device that appears\n"
         "is opened at once for the port waiting for it. A pseudo-terminal has no identity but\n"
         "its path: the pty that has that path next (numbers are reused at once) is opened.\n"
         "\n"
         "Status lines go to standard error: a port connected (also after a reconnection), a\n"
         "link lost, an open that failed and why, a line not typed and why, a poll with no\n"
         "reply or a request not sent (each once per cause).\n"
         "SIGUSR1 sends every port's poll at once.\n"
         "SIGINT, SIGTERM, SIGHUP or SIGQUIT stops the readers, releases every port, types\n"
         "no line it has not begun (a paced one stops at its next key, an unpaced one gets\n"
         "half a second), and exits with status 0, or 1 when a line was not typed (the count\n"
         "is shown). A key output that is gone (a trace that cannot be written, the X server\n"
         "lost) stops the run the same way. A bad option exits with status 2 before anything\n"
         "is opened; a port that cannot be opened at start exits with 1 (unless it is a saved\n"
         "one).\n";
}

}  // namespace lintrel::cli
