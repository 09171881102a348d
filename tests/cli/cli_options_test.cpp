#include "app/cli/cli_options.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace lintrel::cli {
namespace {

const std::vector<std::string> kKeyboards = {"x11"};

ParseResult Parse(std::vector<std::string> args) { return ParseCliOptions(args, kKeyboards); }

TEST(CliOptionsTest, DefaultsWithOnePort) {
  const ParseResult result = Parse({"--port", "COM3"});
  ASSERT_EQ(result.error, "");
  const CliOptions& options = result.options;
  ASSERT_EQ(options.ports.size(), 1u);
  EXPECT_EQ(options.ports[0].port_number, 3);
  EXPECT_EQ(options.ports[0].device_path, "");
  EXPECT_EQ(options.line.baud_index, 1);
  EXPECT_EQ(options.line.parity_index, 0);
  EXPECT_EQ(options.line.data_bit_index, 1);
  EXPECT_EQ(options.line.stop_bit_index, 0);
  EXPECT_EQ(options.end_character, 13);
  EXPECT_FALSE(options.truncate);
  EXPECT_FALSE(options.prefix);
  EXPECT_EQ(options.reconnect_delay_ms, 1000);
  EXPECT_EQ(options.keys, "x11");
}

TEST(CliOptionsTest, EveryOptionInBothSpellings) {
  const ParseResult result =
      Parse({"--baud", "115200", "--parity=Mark", "--data-bits", "7", "--stop-bits=2", "--end-char", "0x0a",
             "--truncate", "--prefix", "--suffix=\\t", "--prefix-text", "x", "--replace", "a=b", "--control=name",
             "--encoding", "Latin-1", "--key-delay=1000", "--line-delay", "10000", "--reconnect-delay=5000",
             "--port", "COM1=/dev/ttyUSB0", "--port=com256=/tmp/a=b", "--keys", "trace"});
  ASSERT_EQ(result.error, "");
  const CliOptions& options = result.options;
  ASSERT_EQ(options.ports.size(), 2u);
  EXPECT_EQ(options.ports[0].device_path, "/dev/ttyUSB0");
  EXPECT_EQ(options.ports[1].port_number, 256);
  EXPECT_EQ(options.ports[1].device_path, "/tmp/a=b");
  EXPECT_EQ(options.line.baud_index, 10);
  EXPECT_EQ(options.line.parity_index, 3);
  EXPECT_EQ(options.line.data_bit_index, 0);
  EXPECT_EQ(options.line.stop_bit_index, 1);
  EXPECT_EQ(options.end_character, 10);
  EXPECT_TRUE(options.truncate);
  EXPECT_TRUE(options.prefix);
  EXPECT_EQ(options.shaping, (ShapingRules{{{"a", "b"}}, ControlMap::kName, "x", "\t"}));
  EXPECT_EQ(options.reconnect_delay_ms, 5000);
  EXPECT_EQ(options.keys, "trace");
  EXPECT_EQ(options.encoding, TextEncoding::kLatin1);
  EXPECT_EQ(options.key_delay_ms, 1000);
  EXPECT_EQ(options.line_delay_ms, 10000);
}

// Each bad value gives one line that names the option and what it accepts.
TEST(CliOptionsTest, BadValuesNameTheOptionAndWhatIsAccepted) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--port", "COM257"}, "--port: \"COM257\" is not COMn or COMn=DEVICE with n from 0 to 256"},
      {{"--port", "COM0001"}, "--port"},
      {{"--port", "COM005"}, "--port"},
      {{"--port", "COM05=/dev/ttyS4"}, "--port"},
      {{"--port", "COM-0"}, "--port"},
      {{"--port", "COM+1"}, "--port"},
      {{"--port", "ttyS0"}, "--port"},
      {{"--port", "COM3="}, "--port"},
      {{"--port", "COM3", "--port", "com3"}, "--port: COM3 is given twice"},
      {{"--port", "COM3=/dev/ttyUSB0", "--port", "COM4=/dev/ttyUSB0"}, "--port: COM3 and COM4 both name /dev/ttyUSB0"},
      {{"--port", "COM1", "--baud", "9601"}, "--baud: \"9601\" is not one of 600, 1200, 2400, 4800, 9600, "
                                             "14400, 19200, 38400, 56000, 57600, 115200"},
      // Numbers that wrap to an accepted value in 32 or 64 bits are too large, not wrapped.
      {{"--port", "COM1", "--baud", "4294976896"}, "--baud: \"4294976896\" is not one of"},
      {{"--port", "COM1", "--baud", "18446744073709561216"}, "--baud"},
      {{"--port", "COM1", "--baud", "-9600"}, "--baud"},
      {{"--port", "COM1", "--end-char", "0x10000000D"}, "--end-char"},
      {{"--port", "COM1", "--end-char", "4294967309"}, "--end-char"},
      {{"--port", "COM1", "--end-char", "0x-D"}, "--end-char"},
      {{"--reconnect-delay", "4294968296", "--port", "COM1"}, "--reconnect-delay"},
      {{"--port", "COM1", "--parity", "bad"}, "--parity: \"bad\" is not one of none, odd, even, mark, space"},
      {{"--port", "COM1", "--data-bits", "9"}, "--data-bits: \"9\" is not 7 or 8"},
      {{"--port", "COM1", "--stop-bits", "1.5"}, "--stop-bits: \"1.5\" is not 1 or 2"},
      {{"--port", "COM1", "--end-char", "0"}, "--end-char"},
      {{"--port", "COM1", "--end-char", "32"}, "--end-char"},
      {{"--port", "COM1", "--end-char", "0x"}, "--end-char"},
      {{"--reconnect-delay", "499", "--port", "COM1"}, "--reconnect-delay: \"499\" is not a number of "
                                                       "milliseconds from 500 to 5000"},
      {{"--port", "COM1", "--reconnect-delay", "5001"}, "--reconnect-delay"},
      {{"--port", "COM1", "--encoding", "utf-16"}, "--encoding: \"utf-16\" is not one of ansi, utf-8, latin-1"},
      {{"--port", "COM1", "--key-delay", "1001"}, "--key-delay: \"1001\" is not a number of milliseconds from 0 to 1000"},
      {{"--port", "COM1", "--line-delay", "-1"}, "--line-delay"},
      {{"--port", "COM1", "--keys", "win32"}, "--keys: \"win32\" is not one of x11, trace"},
      {{"--port", "COM1", "--baud"}, "--baud needs a value"},
      {{"--port", "COM1", "--truncate=yes"}, "--truncate takes no value"},
      {{"--port", "COM1", "--frobnicate"}, "unknown option --frobnicate"},
      {{"--port", "COM1", "stray"}, "unexpected argument stray"},
      {{"--port", "COM1", "--suffix", "\\q"}, "--suffix: \\q is not an escape"},
      {{"--prefix-text", "\\x4", "--port", "COM1"}, "--prefix-text: \\x4 is not an escape"},
      {{"--port", "COM1", "--replace", "ab"}, "--replace: \"ab\" is not FROM=TO"},
      {{"--port", "COM1", "--replace", "=b"}, "--replace: \"=b\" replaces nothing"},
      {{"--port", "COM1", "--replace", "a=\\u{}"}, "--replace: \\u{} is not an escape"},
      {{"--port", "COM1", "--control", "Drop"}, "--control: \"Drop\" is not keep, drop or name"},
      {{}, "no port given"},
      {{"--demo", "--port", "COM1"}, "--demo"},
      {{"--port", "COM1", "--pattern", "(ab"}, "--pattern: missing ): (ab"},
      {{"--port", "COM1", "--template", "{lot"}, "--template: a { without its }"},
      {{"--port", "COM1", "--unmatched", "keep"}, "--unmatched: \"keep\" is not report, drop or type"},
      {{"--port", "COM1", "--repeat-window", "60001"}, "--repeat-window: \"60001\" is not a number of "
                                                      "milliseconds from 0 to 60000"},
      {{"--port", "COM1", "--gs1=yes"}, "--gs1 takes no value"},
      {{"--port", "COM1", "--target", ":Title"}, "--target: \":Title\" names no program: give APP or APP:TITLE-PART"},
      {{"--port", "COM1", "--elsewhere", "wait"}, "--elsewhere: \"wait\" is not hold, activate or drop"},
      {{"--port", "COM1", "--delivery", "type"}, "--delivery: \"type\" is not keys, unicode or paste"},
      {{"--port", "COM1", "--port", "COM2", "--preview"}, "--preview tries one port's options"},
      {{"--port", "COM1", "--preview", "--monitor"}, "--preview opens no port"},
  };
  for (const auto& [args, expected] : cases) {
    const std::string error = Parse(args).error;
    EXPECT_EQ(error.rfind(expected, 0), 0u) << "got: " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(CliOptionsTest, EndCharacterInDecimalOrHex) {
  EXPECT_EQ(Parse({"--end-char", "31", "--port", "COM1"}).options.end_character, 31);
  EXPECT_EQ(Parse({"--end-char", "0X1f", "--port", "COM1"}).options.end_character, 31);
  EXPECT_EQ(Parse({"--end-char", "1", "--port", "COM1"}).options.end_character, 1);
}

TEST(CliOptionsTest, HelpVersionAndDemoNeedNoPort) {
  EXPECT_TRUE(Parse({"--help"}).options.help);
  EXPECT_TRUE(Parse({"-h"}).options.help);
  const ParseResult version = Parse({"--version"});
  ASSERT_EQ(version.error, "");
  EXPECT_TRUE(version.options.version);
  const ParseResult demo = Parse({"--demo"});
  ASSERT_EQ(demo.error, "");
  EXPECT_TRUE(demo.options.demo);
  EXPECT_EQ(demo.options.keys, "trace");  // the demo types into windows only when asked
  EXPECT_EQ(Parse({"--demo", "--keys", "x11"}).options.keys, "x11");
}

TEST(CliOptionsTest, SavedSettingsAreTheDefaultsAndOptionsOverrideThem) {
  const LineSettings stored{
      .port_name = "COM7", .baud_index = 4, .parity_index = 2, .data_bit_index = 0, .stop_bit_index = 1};
  const ParseResult defaults = ParseCliOptions(std::vector<std::string>{}, kKeyboards, stored);
  ASSERT_EQ(defaults.error, "");
  ASSERT_EQ(defaults.options.ports.size(), 1u);
  EXPECT_EQ(defaults.options.ports[0].port_number, 7);
  EXPECT_EQ(defaults.options.line.baud_index, 4);
  EXPECT_EQ(defaults.options.line.parity_index, 2);
  EXPECT_EQ(defaults.options.line.data_bit_index, 0);
  EXPECT_EQ(defaults.options.line.stop_bit_index, 1);

  const ParseResult given =
      ParseCliOptions(std::vector<std::string>{"--port", "COM2", "--baud", "115200"}, kKeyboards, stored);
  ASSERT_EQ(given.error, "");
  ASSERT_EQ(given.options.ports.size(), 1u);
  EXPECT_EQ(given.options.ports[0].port_number, 2);
  const LineSettings line = LineSettingsOf(given.options, given.options.ports[0]);
  EXPECT_EQ(line.baud_index, 10);
  EXPECT_EQ(line.parity_index, 2);
  EXPECT_EQ(SavedPortName(given.options), "COM2");
}

TEST(CliOptionsTest, SavedPortThatIsNoPortNameIsIgnored) {
  // A stored -1 index is kept (it means "nothing selected"); a stored name that is not a
  // port cannot be captured.
  for (const char* saved : {"", "COM", "COM300", "ttyS0", "COM1=/dev/x"}) {
    const LineSettings stored{.port_name = saved, .baud_index = -1};
    const ParseResult result = ParseCliOptions(std::vector<std::string>{}, kKeyboards, stored);
    EXPECT_EQ(result.error.rfind("no port given", 0), 0u) << saved;
  }
  const LineSettings stored{.port_name = "COM300", .baud_index = -1};
  EXPECT_EQ(ParseCliOptions(std::vector<std::string>{"--port", "COM1"}, kKeyboards, stored).options.line.baud_index,
            -1);
}

TEST(CliOptionsTest, WithoutPortEverySavedPortIsCapturedOnce) {
  const std::vector<std::string> saved = {"COM7", "COM200", "ttyS0", "COM7"};
  const ParseResult all = ParseCliOptions(std::vector<std::string>{}, kKeyboards, {.port_name = "COM7"}, saved);
  ASSERT_EQ(all.error, "");
  ASSERT_EQ(all.options.ports.size(), 2u);
  EXPECT_EQ(all.options.ports[0].port_number, 7);
  EXPECT_EQ(all.options.ports[1].port_number, 200);
  EXPECT_TRUE(all.options.ports_from_settings);
  EXPECT_EQ(SavedPortNames(all.options), (std::vector<std::string>{"COM7", "COM200"}));

  const ParseResult given =
      ParseCliOptions(std::vector<std::string>{"--port", "COM2"}, kKeyboards, {.port_name = "COM7"}, saved);
  ASSERT_EQ(given.options.ports.size(), 1u);
  EXPECT_FALSE(given.options.ports_from_settings) << "a port given on the command line must open at start";
}

TEST(CliOptionsTest, SaveAndListPortsNeedNoPort) {
  const ParseResult save = Parse({"--save", "--baud", "9600"});
  ASSERT_EQ(save.error, "");
  EXPECT_TRUE(save.options.save);
  EXPECT_TRUE(save.options.ports.empty());
  EXPECT_EQ(SavedPortName(save.options), "");
  const ParseResult list = Parse({"--list-ports"});
  ASSERT_EQ(list.error, "");
  EXPECT_TRUE(list.options.list_ports);
  EXPECT_EQ(Parse({"--save=1"}).error, "--save takes no value");
}

// --layout is for the uinput keyboard, on a system that has it.
TEST(CliOptionsTest, LayoutIsAnXkbNameForTheUinputKeyboard) {
  const std::vector<std::string> linux_keyboards = {"auto", "x11", "uinput"};
  const ParseResult given = ParseCliOptions(std::vector<std::string>{"--port", "COM1", "--layout", "fr:azerty"},
                                            linux_keyboards);
  ASSERT_EQ(given.error, "");
  EXPECT_EQ(given.options.layout, "fr:azerty");
  EXPECT_EQ(given.options.keys, "auto");
  EXPECT_EQ(ParseCliOptions(std::vector<std::string>{"--port", "COM1", "--layout", "de/x"}, linux_keyboards).error,
            "--layout: \"de/x\" is not LAYOUT or LAYOUT:VARIANT (XKB names such as de or fr:azerty)");
  EXPECT_EQ(Parse({"--port", "COM1", "--layout", "de"}).error,
            "--layout: only the uinput keyboard takes a layout, and this system has none");
  const std::string usage = CliUsage(linux_keyboards, "/dev/ttyS0", "lintrel-cli.conf");
  EXPECT_NE(usage.find("--layout"), std::string::npos);
  EXPECT_EQ(CliUsage(kKeyboards, "/dev/ttyS0", "lintrel-cli.conf").find("--layout"), std::string::npos);
}

// Options before any --port are every port's; after one, that port's alone, over its stored
// profile and over what is given for every port.
TEST(CliOptionsTest, OptionsAfterAPortAreThatPortsProfile) {
  ParseResult result = Parse({"--baud", "9600", "--suffix", "\\t", "--replace", "a=b", "--encoding", "latin-1",
                              "--key-delay", "20", "--port", "COM5", "--end-char", "10", "--replace", "c=d",
                              "--line-delay", "300", "--port", "COM6", "--baud", "115200", "--control", "drop",
                              "--truncate", "--encoding", "utf-8", "--key-delay", "0", "--reconnect-delay", "2000"});
  ASSERT_EQ(result.error, "");
  CliOptions& options = result.options;
  // Stored: COM5 at 19200 with a suffix, COM6 with 7 data bits and a prefix text.
  ApplyStoredProfiles(options, [](int port_number) {
    if (port_number == 5) return PortProfile{.baud_index = 6, .suffix = "X"};
    return PortProfile{.data_bit_index = 0, .prefix_text = "P"};
  });
  const PortRequest& com5 = options.ports[0];
  const PortRequest& com6 = options.ports[1];
  EXPECT_EQ(LineSettingsOf(options, com5).baud_index, 4) << "given for all over the stored";
  EXPECT_EQ(LineSettingsOf(options, com6).baud_index, 10);
  EXPECT_EQ(LineSettingsOf(options, com6).data_bit_index, 0);
  EXPECT_EQ(LineSettingsOf(options, com5).data_bit_index, 1);
  const PortCaptureRules five = CaptureRulesOf(options, com5);
  const PortCaptureRules six = CaptureRulesOf(options, com6);
  EXPECT_EQ(five.shaping, (ShapingRules{{{"a", "b"}, {"c", "d"}}, ControlMap::kKeep, "", "\t"}));
  EXPECT_EQ(six.shaping, (ShapingRules{{{"a", "b"}}, ControlMap::kDrop, "P", "\t"}));
  const CaptureOptions shared{};
  EXPECT_EQ(five.Over(shared),
            (CaptureOptions{.truncate = false, .end_character = 10, .encoding = TextEncoding::kLatin1}));
  EXPECT_EQ(six.Over(shared), (CaptureOptions{.truncate = true, .end_character = 13, .encoding = TextEncoding::kUtf8,
                                               .reconnect_delay_ms = 2000}));
  EXPECT_EQ(options.line.baud_index, 4) << "the shared line settings take only what is given for all";
  EXPECT_FALSE(options.truncate);
  using std::chrono::milliseconds;
  EXPECT_EQ(com5.profile.OwnPacing(), (PortPacing{milliseconds(20), milliseconds(300)}));
  EXPECT_EQ(com6.profile.OwnPacing(), (PortPacing{milliseconds(0), std::nullopt}));
  EXPECT_EQ(options.encoding, TextEncoding::kLatin1);
  EXPECT_EQ(options.key_delay_ms, 20) << "the shared delays take only what is given for all";
  EXPECT_EQ(options.line_delay_ms, 0);
  EXPECT_EQ(options.reconnect_delay_ms, 1000);
}

TEST(CliOptionsTest, RecordOptionsGoToEveryPortOrToOne) {
  ParseResult result = Parse({"--template", "{weight}\t", "--repeat-window", "300", "--port", "COM5", "--pattern",
                              "^ST\t(?P<weight>\\d+)", "--unmatched", "drop", "--port", "COM6", "--gs1",
                              "--template", "{01}"});
  ASSERT_EQ(result.error, "");
  CliOptions& options = result.options;
  ApplyStoredProfiles(options, [](int port_number) {
    return port_number == 6 ? PortProfile{.repeat_window_ms = 0} : PortProfile{.gs1 = true};
  });
  // A real Tab in a pattern or template is kept as its escape, which means the same.
  EXPECT_EQ(CaptureRulesOf(options, options.ports[0]).records,
            (RecordRules{.pattern = "^ST\\t(?P<weight>\\d+)", .unmatched = UnmatchedLines::kDrop, .gs1 = true,
                         .template_text = "{weight}\\t", .repeat_window_ms = 300}));
  EXPECT_EQ(CaptureRulesOf(options, options.ports[1]).records,
            (RecordRules{.gs1 = true, .template_text = "{01}", .repeat_window_ms = 300}));
  // A saved GS1 reading, pattern or template turned off for one run.
  result = Parse({"--port", "COM5", "--no-gs1", "--pattern", "", "--template", ""});
  ASSERT_EQ(result.error, "");
  ApplyStoredProfiles(result.options, [](int) { return PortProfile{.pattern = "x", .gs1 = true, .template_text = "y"}; });
  EXPECT_EQ(CaptureRulesOf(result.options, result.options.ports[0]).records, RecordRules{});
  // Characters beyond ASCII are kept as escapes that mean the same.
  result = Parse({"--port", "COM5", "--pattern", "^€(?P<x>é)", "--template", "{x}€"});
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(CaptureRulesOf(result.options, result.options.ports[0]).records,
            (RecordRules{.pattern = "^\\x{20AC}(?P<x>\\x{00E9})", .template_text = "{x}\\u{20AC}"}));
}

// Two applications on one desk: each port's lines for its own; one given before any --port
// is every port's, and '' turns a saved target off.
TEST(CliOptionsTest, DeliveryOptionsGoToEveryPortOrToOne) {
  ParseResult result = Parse({"--elsewhere", "drop", "--sound-not-typed", "--port", "COM5", "--target",
                              "stock:Receiving", "--port", "COM6", "--target", "", "--delivery", "unicode",
                              "--elsewhere", "activate", "--no-sound-not-typed"});
  ASSERT_EQ(result.error, "");
  ApplyStoredProfiles(result.options, [](int) { return PortProfile{.target = "saved"}; });
  EXPECT_EQ(result.options.ports[0].profile.Delivery(),
            (DeliveryRules{DeliveryTarget{"stock", "Receiving"}, Elsewhere::kDrop, DeliveryMethod::kKeys, true}));
  EXPECT_EQ(result.options.ports[1].profile.Delivery(),
            (DeliveryRules{std::nullopt, Elsewhere::kActivate, DeliveryMethod::kUnicode, false}));
}

// A saved --truncate or --prefix can be turned off, for every port or for one; --replace
// stands for the saved list, and --no-replace empties it.
TEST(CliOptionsTest, SavedFlagsAndReplacementsCanBeUndone) {
  const PortProfile saved{.truncate = true, .prefix = true, .replacements = std::vector<Replacement>{{"s", "t"}}};
  const struct {
    std::vector<std::string> args;
    bool truncate;
    bool prefix;
    std::vector<Replacement> replacements;
  } cases[] = {
      {{"--port", "COM1"}, true, true, {{"s", "t"}}},
      {{"--no-truncate", "--port", "COM1"}, false, true, {{"s", "t"}}},
      {{"--port", "COM1", "--no-prefix", "--no-truncate"}, false, false, {{"s", "t"}}},
      {{"--no-truncate", "--port", "COM1", "--truncate"}, true, true, {{"s", "t"}}},
      {{"--port", "COM1", "--replace", "a=b"}, true, true, {{"a", "b"}}},
      {{"--port", "COM1", "--no-replace"}, true, true, {}},
      {{"--replace", "a=b", "--port", "COM1", "--no-replace", "--replace", "c=d"}, true, true, {{"c", "d"}}},
  };
  for (const auto& c : cases) {
    ParseResult result = Parse(c.args);
    ASSERT_EQ(result.error, "");
    ApplyStoredProfiles(result.options, [&saved](int) { return saved; });
    const PortCaptureRules rules = CaptureRulesOf(result.options, result.options.ports[0]);
    const CaptureOptions options = rules.Over({});
    EXPECT_EQ(options.truncate, c.truncate) << c.args.size();
    EXPECT_EQ(options.prefix, c.prefix) << c.args.size();
    EXPECT_EQ(rules.shaping.replacements, c.replacements) << c.args.size();
  }
  EXPECT_EQ(Parse({"--no-truncate=1"}).error, "--no-truncate takes no value");
  std::vector<std::string> too_many = {"--port", "COM1"};
  for (std::size_t i = 0; i <= kMaxReplacements; ++i) too_many.insert(too_many.end(), {"--replace", "a=b"});
  EXPECT_EQ(Parse(too_many).error, "--replace: at most 100 replacements");
}

TEST(CliOptionsTest, UsageDocumentsEveryOption) {
  const std::string usage = CliUsage(kKeyboards, "/dev/ttyS(n-1)", "~/.config/lintrel/lintrel-cli.conf");
  for (const char* option : {"--port", "--baud", "--parity", "--data-bits", "--stop-bits", "--end-char",
                             "--truncate", "--prefix", "--prefix-text", "--suffix", "--replace", "--control",
                             "--no-truncate", "--no-prefix", "--no-replace", "U+00HH",
                             "--reconnect-delay", "--keys", "--demo", "--help",
                             "--version", "--save", "--list-ports", "~/.config/lintrel/lintrel-cli.conf",
                             "--pattern", "--unmatched", "--gs1", "--template", "--repeat-window", "--preview",
                             "--monitor", "--target", "--elsewhere", "--delivery", "--sound-not-typed",
                             "/dev/ttyS(n-1)", "x11", "trace"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

}  // namespace
// Requests are a port's own options: their texts take the escapes, their times their ranges.
TEST(CliOptionsTest, RequestsTakeEscapesAndRefuseTimesOutOfRange) {
  const ParseResult result = Parse({"--port", "COM3", "--send-on-connect", "@\\r\\n", "--poll", "SI\\r\\n",
                                    "--poll-every", "500", "--reply-timeout=2000", "--port", "COM4"});
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(CaptureRulesOf(result.options, result.options.ports[0]).requests,
            (PortRequests{.send_on_connect = "@\r\n", .poll = "SI\r\n", .poll_every_ms = 500, .reply_timeout_ms = 2000}));
  EXPECT_FALSE(CaptureRulesOf(result.options, result.options.ports[1]).requests.SendsAnything());

  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--poll-every", "99"}, "--poll-every: \"99\" is not a number of milliseconds from 100 to 3600000"},
      {{"--poll-every", "3600001"}, "--poll-every: \"3600001\" is not a number of milliseconds from 100 to 3600000"},
      {{"--reply-timeout", "99"}, "--reply-timeout: \"99\" is not a number of milliseconds from 100 to 3600000"},
      {{"--poll", "\\xZZ"}, "--poll: \\xZZ is not an escape (\\t, \\r, \\n, \\\\, \\xHH, \\u{HHHH})"},
  };
  for (const auto& [args, error] : refused) {
    std::vector<std::string> all = {"--port", "COM3"};
    all.insert(all.end(), args.begin(), args.end());
    EXPECT_EQ(Parse(all).error, error);
  }
}

// The ready profiles in profiles/ parse, and ask their device as their comments say.
TEST(CliOptionsTest, ReadyScaleProfilesPollTheirDevice) {
  struct ProfileCase {
    const char* file;
    PortRequests requests;
    int end_character;
    bool records;
  };
  const ProfileCase cases[] = {
      {"print-command.txt", {.poll = "P\r", .reply_timeout_ms = 2000}, 13, false},
      {"mt-sics.txt", {.poll = "SI\r\n", .poll_every_ms = 500, .reply_timeout_ms = 2000}, 10, true},
      {"sma-scale.txt", {.poll = "\nW\r", .poll_every_ms = 500, .reply_timeout_ms = 2000}, 13, true},
  };
  for (const ProfileCase& c : cases) {
    SCOPED_TRACE(c.file);
    const ParseResult result = Parse({"--port", "COM3", "--profile", std::string(LINTREL_PROFILES_DIR) + "/" + c.file});
    ASSERT_EQ(result.error, "");
    const PortRequest& port = result.options.ports[0];
    const PortCaptureRules rules = CaptureRulesOf(result.options, port);
    EXPECT_EQ(rules.requests, c.requests);
    EXPECT_EQ(rules.Over(CaptureOptions{}).end_character, c.end_character);
    EXPECT_EQ(rules.records.Active(), c.records);
    EXPECT_EQ(LineSettingsOf(result.options, port).baud_index, 4) << "9600 baud";
  }
  EXPECT_EQ(Parse({"--profile", "/nonexistent/profile.txt"}).error, "--profile: cannot read \"/nonexistent/profile.txt\"");
}

}  // namespace lintrel::cli
