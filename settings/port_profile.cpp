#include "settings/port_profile.h"

#include <set>

#include "common/port_number.h"
#include "common/text_escapes.h"
#include "settings/line_settings_store.h"

namespace lintrel {
namespace {

// The four line positions of a profile, with the shared entry names.
struct PositionValue {
  const char* name;
  std::optional<int> PortProfile::*value;
  int LineSettings::*position;
  int list_size;
};

constexpr PositionValue kPositionValues[] = {
    {kBaudRateEntry, &PortProfile::baud_index, &LineSettings::baud_index, LineSettings::kBaudListSize},
    {kParityEntry, &PortProfile::parity_index, &LineSettings::parity_index, LineSettings::kParityListSize},
    {kDataBitEntry, &PortProfile::data_bit_index, &LineSettings::data_bit_index, LineSettings::kDataBitListSize},
    {kStopBitEntry, &PortProfile::stop_bit_index, &LineSettings::stop_bit_index, LineSettings::kStopBitListSize},
};

template <typename T>
void OverlayValue(std::optional<T>& mine, const std::optional<T>& theirs) {
  if (theirs) mine = theirs;
}

std::string DelayMeaning(int lowest, int highest) {
  return "a number of milliseconds from " + std::to_string(lowest) + " to " + std::to_string(highest);
}

std::string ReplaceEntryName(std::size_t index) { return std::string(kReplaceEntry) + " " + std::to_string(index + 1); }

// Where a profile's entries stand: a port's section, or the top level for the shared options
// (whose line positions are the shared line settings, kept apart).
struct ProfileSection {
  std::string prefix;  // "Ports\COM5\" or ""
  std::string owner;   // "COM5 profile", for warnings
  bool line_positions;
};

ProfileSection PortSection(int port_number) {
  return {PortProfileEntry(port_number, ""), PortName(port_number) + " profile", true};
}

const ProfileSection kSharedSection{"", "Shared options", false};

// Writes the values the profile sets and removes the ones it leaves unset.
void WriteProfile(SettingsStore& store, const ProfileSection& section, const PortProfile& profile);

// Reads one profile's entries and says what is wrong with them.
class ProfileReader {
 public:
  ProfileReader(SettingsStore& store, ProfileSection section, std::vector<std::string>* warnings)
      : store_(store), section_(std::move(section)), warnings_(warnings) {}

  PortProfile Read() {
    PortProfile profile;
    for (const PositionValue& value : kPositionValues) {
      if (!section_.line_positions) break;
      profile.*value.value = store_.ReadInt(Entry(value.name));
      const std::optional<int>& read = profile.*value.value;
      if (read && !IsListPosition(*read, value.list_size)) {
        Warn(value.name, std::to_string(*read) + " is outside its list (the default is used)");
      }
      if (!read) WarnIfPresent(value.name, "is not a number");
    }
    profile.end_character = ReadBounded(kEndCharEntry, 1, 31, "a character code from 1 to 31");
    profile.truncate = ReadFlag(kTruncateEntry);
    profile.prefix = ReadFlag(kPortNamePrefixEntry);
    profile.prefix_text = ReadText(kPrefixTextEntry);
    profile.suffix = ReadText(kSuffixEntry);
    profile.replacements = ReadReplacements();
    if (const std::optional<std::string> control = store_.ReadString(Entry(kControlEntry))) {
      profile.control = ParseControlMap(*control);
      if (!profile.control) Warn(kControlEntry, "\"" + *control + "\" is not keep, drop or name");
    }
    profile.encoding = ReadEncoding();
    profile.key_delay_ms = ReadBounded(kKeyDelayEntry, 0, kMaxKeyDelayMs, DelayMeaning(0, kMaxKeyDelayMs));
    profile.line_delay_ms = ReadBounded(kLineDelayEntry, 0, kMaxLineDelayMs, DelayMeaning(0, kMaxLineDelayMs));
    profile.reconnect_delay_ms =
        ReadBounded(kReconnectionDelayEntry, CaptureOptions::kMinReconnectDelayMs, CaptureOptions::kMaxReconnectDelayMs,
                    DelayMeaning(CaptureOptions::kMinReconnectDelayMs, CaptureOptions::kMaxReconnectDelayMs));
    ReadRecordValues(profile);
    ReadRequests(profile);
    ReadDeliveryValues(profile);
    return profile;
  }

 private:
  std::string Entry(const std::string& name) const { return section_.prefix + name; }

  void Warn(const std::string& name, const std::string& problem) {
    if (warnings_ == nullptr) return;
    warnings_->push_back(section_.owner + ": \"" + name + "\" " + problem +
                         "; the default is used, the stored value is kept.");
  }

  // An entry that is there but not an integer (a registry value of another kind, a text
  // in the file that is no number).
  void WarnIfPresent(const std::string& name, const std::string& problem) {
    if (store_.ReadString(Entry(name))) Warn(name, problem);
  }

  std::optional<int> ReadBounded(const std::string& name, int low, int high, const std::string& meaning) {
    const std::optional<int32_t> value = store_.ReadInt(Entry(name));
    if (!value) {
      WarnIfPresent(name, "is not " + meaning);
      return std::nullopt;
    }
    if (*value < low || *value > high) {
      Warn(name, "= " + std::to_string(*value) + " is not " + meaning);
      return std::nullopt;
    }
    return *value;
  }

  std::optional<bool> ReadFlag(const std::string& name) {
    const std::optional<int> value = ReadBounded(name, 0, 1, "0 or 1");
    if (!value) return std::nullopt;
    return *value == 1;
  }

  std::optional<TextEncoding> ReadEncoding() {
    const std::optional<std::string> stored = store_.ReadString(Entry(kEncodingEntry));
    const std::optional<TextEncoding> encoding = stored ? ParseTextEncoding(*stored) : std::nullopt;
    if (!encoding && (stored || store_.ReadInt(Entry(kEncodingEntry)))) {
      Warn(kEncodingEntry, (stored ? "\"" + *stored + "\" " : std::string()) + "is not ansi, utf-8 or latin-1");
    }
    return encoding;
  }

  std::optional<std::string> ReadText(const std::string& name) {
    const std::optional<std::string> stored = store_.ReadString(Entry(name));
    if (!stored) return std::nullopt;
    std::string error;
    std::optional<std::string> text = ParseStoredText(*stored, store_.OlderVersionsCodePage(), &error);
    if (!text) Warn(name, "has a wrong escape: " + error);
    return text;
  }

  // The record stage's values; whether the pattern and the template can be used is the
  // record stage's to say (CheckRecordValues()).
  void ReadRecordValues(PortProfile& profile) {
    profile.pattern = store_.ReadString(Entry(kPatternEntry));
    if (const std::optional<std::string> unmatched = store_.ReadString(Entry(kUnmatchedEntry))) {
      profile.unmatched = ParseUnmatchedLines(*unmatched);
      if (!profile.unmatched) Warn(kUnmatchedEntry, "\"" + *unmatched + "\" is not report, drop or type");
    }
    profile.gs1 = ReadFlag(kGs1Entry);
    profile.template_text = store_.ReadString(Entry(kTemplateEntry));
    profile.repeat_window_ms = ReadBounded(kRepeatWindowEntry, 0, RecordRules::kMaxRepeatWindowMs,
                                           "a number of milliseconds from 0 to 60000");
  }

  void ReadRequests(PortProfile& profile) {
    profile.send_on_connect = ReadText(kSendOnConnectEntry);
    profile.poll = ReadText(kPollEntry);
    profile.poll_every_ms = ReadBounded(kPollEveryEntry, PortRequests::kMinPollEveryMs, PortRequests::kMaxPollEveryMs,
                                        "a number of milliseconds from 100 to 3600000");
    profile.reply_timeout_ms = ReadBounded(kReplyTimeoutEntry, PortRequests::kMinReplyTimeoutMs,
                                           PortRequests::kMaxReplyTimeoutMs,
                                           "a number of milliseconds from 100 to 3600000");
    if (const std::optional<std::string> hotkey = store_.ReadString(Entry(kHotkeyEntry))) {
      std::string problem;
      profile.hotkey = ParseHotkey(*hotkey, &problem);
      if (!profile.hotkey) Warn(kHotkeyEntry, "is no hotkey: " + problem);
    }
  }

  void ReadDeliveryValues(PortProfile& profile) {
    if (std::optional<std::string> target = store_.ReadString(Entry(kTargetEntry))) {
      if (target->empty() || ParseDeliveryTarget(*target)) {
        profile.target = std::move(target);
      } else {
        Warn(kTargetEntry, "\"" + *target + "\" names no program (APP or APP:TITLE-PART)");
      }
    }
    if (const std::optional<std::string> elsewhere = store_.ReadString(Entry(kElsewhereEntry))) {
      profile.elsewhere = ParseElsewhere(*elsewhere);
      if (!profile.elsewhere) Warn(kElsewhereEntry, "\"" + *elsewhere + "\" is not hold, activate or drop");
    }
    if (const std::optional<std::string> delivery = store_.ReadString(Entry(kDeliveryEntry))) {
      profile.delivery = ParseDeliveryMethod(*delivery);
      if (!profile.delivery) Warn(kDeliveryEntry, "\"" + *delivery + "\" is not keys, unicode or paste");
    }
    profile.sound_not_typed = ReadFlag(kNotTypedSoundEntry);
  }

  // Every "Replace n" there is, in the order of n: a gap (a hand-edited file) skips no
  // replacement after it.
  std::optional<std::vector<Replacement>> ReadReplacements() {
    std::vector<Replacement> replacements;
    bool any = false;
    for (std::size_t index = 0; index < kMaxReplacements; ++index) {
      const std::string name = ReplaceEntryName(index);
      const std::optional<std::string> stored = store_.ReadString(Entry(name));
      if (!stored) continue;
      any = true;
      std::string error;
      if (std::optional<Replacement> replacement =
              ParseStoredReplacement(*stored, store_.OlderVersionsCodePage(), &error)) {
        replacements.push_back(std::move(*replacement));
      } else {
        Warn(name, "is left out: " + error);
      }
    }
    if (!any) return std::nullopt;
    return replacements;
  }

  SettingsStore& store_;
  ProfileSection section_;
  std::vector<std::string>* warnings_;
};

// A store that holds nothing and notes the name of every entry asked for.
class NameRecorder : public SettingsStore {
 public:
  std::set<std::string, std::less<>> names;

  std::optional<std::string> ReadString(const std::string& entry) override {
    names.insert(entry);
    return std::nullopt;
  }
  std::optional<int32_t> ReadInt(const std::string& entry) override {
    names.insert(entry);
    return std::nullopt;
  }
  void WriteString(const std::string&, const std::string&) override {}
  void WriteInt(const std::string&, int32_t) override {}
  void Remove(const std::string&) override {}
  std::vector<std::string> Names() override { return {}; }
  bool Flush(std::string*) override { return true; }
};

}  // namespace

bool IsPortProfileEntry(std::string_view name) {
  // The names LoadPortProfile asks for, so that a value added to the profile is known here
  // without a second list to keep in step.
  static const std::set<std::string, std::less<>> kNames = [] {
    NameRecorder recorder;
    LoadPortProfile(recorder, kLowestPortNumber, nullptr);
    const std::string section = PortProfileEntry(kLowestPortNumber, "");
    std::set<std::string, std::less<>> names;
    for (const std::string& entry : recorder.names) names.insert(entry.substr(section.size()));
    return names;
  }();
  return kNames.contains(name);
}

void PortProfile::Overlay(const PortProfile& over) {
  OverlayValue(baud_index, over.baud_index);
  OverlayValue(parity_index, over.parity_index);
  OverlayValue(data_bit_index, over.data_bit_index);
  OverlayValue(stop_bit_index, over.stop_bit_index);
  OverlayValue(end_character, over.end_character);
  OverlayValue(truncate, over.truncate);
  OverlayValue(prefix, over.prefix);
  OverlayValue(prefix_text, over.prefix_text);
  OverlayValue(suffix, over.suffix);
  OverlayValue(replacements, over.replacements);
  OverlayValue(control, over.control);
  OverlayValue(encoding, over.encoding);
  OverlayValue(key_delay_ms, over.key_delay_ms);
  OverlayValue(line_delay_ms, over.line_delay_ms);
  OverlayValue(reconnect_delay_ms, over.reconnect_delay_ms);
  OverlayValue(pattern, over.pattern);
  OverlayValue(unmatched, over.unmatched);
  OverlayValue(gs1, over.gs1);
  OverlayValue(template_text, over.template_text);
  OverlayValue(repeat_window_ms, over.repeat_window_ms);
  OverlayValue(send_on_connect, over.send_on_connect);
  OverlayValue(poll, over.poll);
  OverlayValue(poll_every_ms, over.poll_every_ms);
  OverlayValue(hotkey, over.hotkey);
  OverlayValue(reply_timeout_ms, over.reply_timeout_ms);
  OverlayValue(target, over.target);
  OverlayValue(elsewhere, over.elsewhere);
  OverlayValue(delivery, over.delivery);
  OverlayValue(sound_not_typed, over.sound_not_typed);
}

LineSettings PortProfile::LineOver(LineSettings line) const {
  for (const PositionValue& value : kPositionValues) {
    if (const std::optional<int>& own = this->*value.value) line.*value.position = *own;
  }
  return line;
}

RecordRules PortProfile::RecordsOver(RecordRules defaults) const {
  if (pattern) defaults.pattern = *pattern;
  if (unmatched) defaults.unmatched = *unmatched;
  if (gs1) defaults.gs1 = *gs1;
  if (template_text) defaults.template_text = *template_text;
  if (repeat_window_ms) defaults.repeat_window_ms = *repeat_window_ms;
  return defaults;
}

DeliveryRules PortProfile::Delivery() const {
  DeliveryRules rules;
  if (target) rules.target = ParseDeliveryTarget(*target);
  if (elsewhere) rules.elsewhere = *elsewhere;
  if (delivery) rules.method = *delivery;
  if (sound_not_typed) rules.sound_not_typed = *sound_not_typed;
  return rules;
}

PortCaptureRules PortProfile::CaptureRules(const ShapingRules& defaults, const RecordRules& record_defaults) const {
  PortCaptureRules rules;
  if (end_character) rules.end_character = static_cast<uint8_t>(*end_character);
  rules.truncate = truncate;
  rules.prefix = prefix;
  rules.shaping = defaults;
  if (prefix_text) rules.shaping.prefix_text = *prefix_text;
  if (suffix) rules.shaping.suffix = *suffix;
  if (replacements) rules.shaping.replacements = *replacements;
  if (control) rules.shaping.control = *control;
  rules.encoding = encoding;
  rules.reconnect_delay_ms = reconnect_delay_ms;
  rules.records = RecordsOver(record_defaults);
  rules.requests = Requests();
  return rules;
}

PortRequests PortProfile::Requests() const {
  return {.send_on_connect = send_on_connect.value_or(""),
          .poll = poll.value_or(""),
          .poll_every_ms = poll_every_ms.value_or(0),
          .reply_timeout_ms = reply_timeout_ms.value_or(0)};
}

PortPacing PortProfile::OwnPacing() const {
  const auto delay = [](std::optional<int> ms) {
    return ms ? std::optional<std::chrono::milliseconds>(*ms) : std::nullopt;
  };
  return {delay(key_delay_ms), delay(line_delay_ms)};
}

std::string PortProfileEntry(int port_number, const std::string& name) {
  return "Ports\\" + PortName(port_number) + "\\" + name;
}

std::optional<PortEntryName> SplitPortProfileEntry(std::string_view entry) {
  constexpr std::string_view kSections = "Ports\\";
  if (!entry.starts_with(kSections)) return std::nullopt;
  entry.remove_prefix(kSections.size());
  const std::size_t separator = entry.find('\\');
  if (separator == std::string_view::npos) return std::nullopt;
  const std::optional<int> port_number = ParsePortName(entry.substr(0, separator));
  if (!port_number) return std::nullopt;
  return PortEntryName{*port_number, entry.substr(separator + 1)};
}

PortProfile LoadPortProfile(SettingsStore& store, int port_number, std::vector<std::string>* warnings) {
  return ProfileReader(store, PortSection(port_number), warnings).Read();
}

PortProfile LoadSharedProfile(SettingsStore& store, std::vector<std::string>* warnings) {
  return ProfileReader(store, kSharedSection, warnings).Read();
}

void WritePortProfile(SettingsStore& store, int port_number, const PortProfile& profile) {
  WriteProfile(store, PortSection(port_number), profile);
}

void WriteSharedProfile(SettingsStore& store, const PortProfile& profile) {
  WriteProfile(store, kSharedSection, profile);
}

namespace {

void WriteProfile(SettingsStore& store, const ProfileSection& section, const PortProfile& profile) {
  const auto entry = [&section](const std::string& name) { return section.prefix + name; };
  const auto write_int = [&](const std::string& name, std::optional<int> value) {
    if (value) {
      store.WriteInt(entry(name), *value);
    } else {
      store.Remove(entry(name));
    }
  };
  const auto write_text = [&](const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      store.WriteString(entry(name), *value);
    } else {
      store.Remove(entry(name));
    }
  };
  const auto escaped = [](const std::optional<std::string>& text) {
    return text ? std::optional<std::string>(FormatStoredText(*text)) : std::nullopt;
  };
  const auto flag = [](std::optional<bool> value) { return value ? std::optional<int>(*value ? 1 : 0) : std::nullopt; };

  for (const PositionValue& value : kPositionValues) {
    if (section.line_positions) write_int(value.name, profile.*value.value);
  }
  write_int(kEndCharEntry, profile.end_character);
  write_int(kTruncateEntry, flag(profile.truncate));
  write_int(kPortNamePrefixEntry, flag(profile.prefix));
  write_text(kPrefixTextEntry, escaped(profile.prefix_text));
  write_text(kSuffixEntry, escaped(profile.suffix));
  write_text(kControlEntry,
             profile.control ? std::optional<std::string>(ControlMapName(*profile.control)) : std::nullopt);
  write_text(kEncodingEntry,
             profile.encoding ? std::optional<std::string>(TextEncodingName(*profile.encoding)) : std::nullopt);
  write_int(kKeyDelayEntry, profile.key_delay_ms);
  write_int(kLineDelayEntry, profile.line_delay_ms);
  write_int(kReconnectionDelayEntry, profile.reconnect_delay_ms);
  write_text(kPatternEntry, profile.pattern);
  write_text(kUnmatchedEntry,
             profile.unmatched ? std::optional<std::string>(UnmatchedLinesName(*profile.unmatched)) : std::nullopt);
  write_int(kGs1Entry, flag(profile.gs1));
  write_text(kTemplateEntry, profile.template_text);
  write_int(kRepeatWindowEntry, profile.repeat_window_ms);
  write_text(kSendOnConnectEntry, escaped(profile.send_on_connect));
  write_text(kPollEntry, escaped(profile.poll));
  write_int(kPollEveryEntry, profile.poll_every_ms);
  write_int(kReplyTimeoutEntry, profile.reply_timeout_ms);
  write_text(kHotkeyEntry, profile.hotkey ? std::optional<std::string>(profile.hotkey->Text()) : std::nullopt);
  // No target (an empty one given for the run) is stored as none.
  write_text(kTargetEntry, profile.target && !profile.target->empty() ? profile.target : std::nullopt);
  write_text(kElsewhereEntry,
             profile.elsewhere ? std::optional<std::string>(ElsewhereName(*profile.elsewhere)) : std::nullopt);
  write_text(kDeliveryEntry,
             profile.delivery ? std::optional<std::string>(DeliveryMethodName(*profile.delivery)) : std::nullopt);
  write_int(kNotTypedSoundEntry, flag(profile.sound_not_typed));

  const std::vector<Replacement> replacements = profile.replacements.value_or(std::vector<Replacement>{});
  for (std::size_t index = 0; index < replacements.size(); ++index) {
    store.WriteString(entry(ReplaceEntryName(index)), FormatStoredReplacement(replacements[index]));
  }
  // The replacements stored before beyond the new count go, also those after a gap.
  for (std::size_t index = replacements.size(); index < kMaxReplacements; ++index) {
    if (store.ReadString(entry(ReplaceEntryName(index)))) store.Remove(entry(ReplaceEntryName(index)));
  }
}

}  // namespace

}  // namespace lintrel
