#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/capture_options.h"
#include "settings/delivery_rules.h"
#include "settings/hotkey.h"
#include "settings/line_settings.h"
#include "settings/pacing.h"
#include "settings/record_rules.h"
#include "settings/settings_store.h"
#include "settings/shaping_rules.h"
#include "settings/text_encoding.h"

namespace lintrel {

// What one port sets for itself. Each value it leaves unset is taken from the defaults every
// port shares (the saved line settings and the capture options).
struct PortProfile {
  std::optional<int> baud_index{};
  std::optional<int> parity_index{};
  std::optional<int> data_bit_index{};
  std::optional<int> stop_bit_index{};
  std::optional<int> end_character{};  // 1..31
  std::optional<bool> truncate{};
  std::optional<bool> prefix{};  // the port-name prefix
  std::optional<std::string> prefix_text{};
  std::optional<std::string> suffix{};
  std::optional<std::vector<Replacement>> replacements{};
  std::optional<ControlMap> control{};
  // The record stage (see RecordRules): texts as the user wrote them.
  std::optional<std::string> pattern{};
  std::optional<UnmatchedLines> unmatched{};
  std::optional<bool> gs1{};
  std::optional<std::string> template_text{};
  std::optional<int> repeat_window_ms{};
  // What the port sends to its device (see PortRequests): texts as characters.
  std::optional<std::string> send_on_connect{};
  std::optional<std::string> poll{};
  std::optional<int> poll_every_ms{};
  std::optional<int> reply_timeout_ms{};
  // The key combination that sends the poll at once (lintrel.exe).
  std::optional<Hotkey> hotkey{};
  // How the port's bytes are read as characters, the delays its lines are typed with, and
  // how long a lost link waits before the port is re-opened.
  std::optional<TextEncoding> encoding{};
  std::optional<int> key_delay_ms{};        // 0..kMaxKeyDelayMs
  std::optional<int> line_delay_ms{};       // 0..kMaxLineDelayMs
  std::optional<int> reconnect_delay_ms{};  // CaptureOptions' range
  // Where and how its lines are typed (see DeliveryRules): the target as APP[:TITLE-PART],
  // an empty text for none (given to stand for a saved one).
  std::optional<std::string> target{};
  std::optional<Elsewhere> elsewhere{};
  std::optional<DeliveryMethod> delivery{};
  std::optional<bool> sound_not_typed{};

  bool operator==(const PortProfile&) const = default;
  bool Empty() const { return *this == PortProfile{}; }

  // Every value `over` sets replaces this one's.
  void Overlay(const PortProfile& over);
  // `line` with this port's positions put in.
  LineSettings LineOver(LineSettings line) const;
  // This port's capture rules, its unset shaping and record values taken from the defaults.
  PortCaptureRules CaptureRules(const ShapingRules& defaults, const RecordRules& record_defaults = {}) const;
  // `defaults` with the record values this port sets put in.
  RecordRules RecordsOver(RecordRules defaults) const;
  // The port's requests; what it leaves unset is not sent.
  PortRequests Requests() const;
  // The delays this port sets for itself.
  PortPacing OwnPacing() const;
  // Where and how this port's lines are typed; what it leaves unset is the default.
  DeliveryRules Delivery() const;
};

// The entry that holds a port's value: "Ports\COM5\Suffix". A settings file keeps it as
// "Suffix" in the section [COM5]; the registry as the value "Suffix" of the subkey
// Ports\COM5 of the program's key.
std::string PortProfileEntry(int port_number, const std::string& name);

// The port and the name within its section of an entry that PortProfileEntry() makes
// ("Ports\COM5\Suffix": 5 and "Suffix"); nullopt for an entry outside every port's section.
struct PortEntryName {
  int port_number;
  std::string_view name;
};
std::optional<PortEntryName> SplitPortProfileEntry(std::string_view entry);

// Names of a profile's values within its port's section.
inline constexpr const char* kEndCharEntry = "End char";
inline constexpr const char* kTruncateEntry = "Truncate";
inline constexpr const char* kPortNamePrefixEntry = "Port name prefix";
inline constexpr const char* kPrefixTextEntry = "Prefix text";
inline constexpr const char* kSuffixEntry = "Suffix";
inline constexpr const char* kReplaceEntry = "Replace";  // "Replace 1" to "Replace 100" (kMaxReplacements)
inline constexpr const char* kControlEntry = "Control characters";
inline constexpr const char* kPatternEntry = "Pattern";
inline constexpr const char* kUnmatchedEntry = "Unmatched lines";
inline constexpr const char* kGs1Entry = "GS1";
inline constexpr const char* kTemplateEntry = "Template";
inline constexpr const char* kRepeatWindowEntry = "Repeat window";
inline constexpr const char* kSendOnConnectEntry = "Send on connect";
inline constexpr const char* kPollEntry = "Poll";
inline constexpr const char* kPollEveryEntry = "Poll every";
inline constexpr const char* kReplyTimeoutEntry = "Reply timeout";
inline constexpr const char* kHotkeyEntry = "Hotkey";  // as Hotkey::Text() writes it
inline constexpr const char* kEncodingEntry = "Encoding";                    // ansi, utf-8 or latin-1
inline constexpr const char* kKeyDelayEntry = "Key delay";                   // milliseconds
inline constexpr const char* kLineDelayEntry = "Line delay";                 // milliseconds
inline constexpr const char* kReconnectionDelayEntry = "Reconnection delay";  // milliseconds
inline constexpr const char* kTargetEntry = "Target";
inline constexpr const char* kElsewhereEntry = "Elsewhere";
inline constexpr const char* kDeliveryEntry = "Delivery";
inline constexpr const char* kNotTypedSoundEntry = "Not typed sound";  // 0 or 1

// Whether `name` is the name of a value within a port's section, as LoadPortProfile reads
// it: "Suffix", "Replace 7"; not "Replace 07" nor "Replace 101".
bool IsPortProfileEntry(std::string_view name);

// Reads the port's profile. A value that is damaged or out of range is left unset (the
// default is used) and stays stored; each gets one line in *warnings naming the entry.
// Line positions outside their lists are kept, as the shared ones are, and warned about.
PortProfile LoadPortProfile(SettingsStore& store, int port_number, std::vector<std::string>* warnings);

// The options every port shares, for a front end that keeps them (lintrel.exe): the values of
// a profile as entries of the store's top level, beside the shared line settings, under the
// names of a port's section ("Suffix", "End char"). The line positions are not among them:
// they are the shared line settings (see line_settings_store.h). Damaged values are warned
// about as a port's are, as "Shared options".
PortProfile LoadSharedProfile(SettingsStore& store, std::vector<std::string>* warnings);
void WriteSharedProfile(SettingsStore& store, const PortProfile& profile);

// Writes the values the profile sets and removes the ones it leaves unset; the store is not
// flushed. Texts are stored as FormatStoredText writes them (common/text_escapes.h): printable
// ASCII, every other character an escape. They are read back by ParseStoredText with the
// store's OlderVersionsCodePage(), so that texts older versions stored read as they were
// written. The pattern
// and the template are stored as they are: printable ASCII (see RecordRules).
void WritePortProfile(SettingsStore& store, int port_number, const PortProfile& profile);

}  // namespace lintrel
