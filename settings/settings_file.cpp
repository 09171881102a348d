#include "settings/settings_file.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <exception>
#include <system_error>
#include <utility>

#include "common/port_number.h"
#include "common/printable_text.h"
#include "common/trim.h"
#include "common/utf8_text.h"
#include "settings/line_settings_store.h"
#include "settings/port_profile.h"

namespace lintrel {
namespace {

namespace fs = std::filesystem;

// A pin is "Device " followed by a port name; a name that begins like one but names no
// port draws a warning.
constexpr std::string_view kPinPrefix = "Device ";
constexpr std::string_view kPinLookalike = "Device COM";
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kWarningsInSummary = 3;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsBlankText(std::string_view text) { return std::all_of(text.begin(), text.end(), IsBlank); }

// Why the bytes of a line cannot be settings text, or nullopt when they can.
std::optional<std::string> LineBytesProblem(std::string_view line) {
  if (line.find('\0') != std::string_view::npos) return "contains a NUL byte";
  std::size_t at = 0;
  while (at < line.size()) {
    const auto c = static_cast<unsigned char>(line[at]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) return "contains a control character";
    const std::size_t length = Utf8SequenceLength(line, at);
    if (length == 0) return "is not UTF-8 text";
    at += length;
  }
  return std::nullopt;
}

bool IsIntegerEntry(std::string_view name) {
  return std::any_of(kLineSettingsIntegerEntries.begin(), kLineSettingsIntegerEntries.end(),
                     [name](const char* entry) { return name == entry; });
}

// The port number of a "Device COMn" name, COMn a port name.
std::optional<int> PinnedPortNumber(std::string_view name) {
  if (!name.starts_with(kPinPrefix)) return std::nullopt;
  return ParsePortName(name.substr(kPinPrefix.size()));
}

bool IsDevicePath(std::string_view value) { return !value.empty() && value.front() == '/'; }

// A port's section: "[COM5]" holds the entries a store names "Ports\COM5\<name>".
constexpr std::string_view kSectionEntryPrefix = "Ports\\";

// The port name of a "[COMn]" line (blanks around it allowed, "COM" in any case) as
// PortName() writes it, or nullopt.
std::optional<std::string> SectionHeader(std::string_view line) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return std::nullopt;
  const std::optional<int> port = ParsePortName(line.substr(1, line.size() - 2));
  if (!port) return std::nullopt;
  return PortName(*port);
}

// The section and the name within it of a store's entry name; the section is empty for an
// entry outside every section.
std::pair<std::string_view, std::string_view> SplitSection(std::string_view name) {
  if (!name.starts_with(kSectionEntryPrefix)) return {{}, name};
  const std::string_view rest = name.substr(kSectionEntryPrefix.size());
  const std::size_t separator = rest.find('\\');
  if (separator == std::string_view::npos || !ParsePortName(rest.substr(0, separator))) return {{}, name};
  return {rest.substr(0, separator), rest.substr(separator + 1)};
}

bool IsSharedEntry(std::string_view name) {
  return name == kPortEntry || name == kPortsEntry || IsIntegerEntry(name) || PinnedPortNumber(name).has_value();
}

// Why nothing reads a well-formed entry where it stands (`section` empty: before the first
// section), or nullopt when it is read.
std::optional<std::string> UnusedEntryProblem(std::string_view name, std::string_view section, SettingsFileKind kind) {
  constexpr std::string_view kKept = "; it is kept, but not used";
  if (section.empty()) {
    if (IsSharedEntry(name)) return std::nullopt;
    if (kind == SettingsFileKind::kMachineOrPolicy && IsPortProfileEntry(name)) return std::nullopt;
    if (IsPortProfileEntry(name)) return Quoted(name) + " is a port's setting: it is used only in a [COMn] section";
  } else {
    if (IsPortProfileEntry(name)) return std::nullopt;
    if (IsSharedEntry(name)) {
      return Quoted(name) + " inside [" + std::string(section) + "] is not used: it belongs before the first section";
    }
  }
  if (name.starts_with(kReplaceEntry)) {
    return Quoted(name) + " names no replacement (" + kReplaceEntry + " 1 to " + kReplaceEntry + " " +
           std::to_string(kMaxReplacements) + ")" + std::string(kKept);
  }
  return Quoted(name) + " names no setting" + std::string(kKept);
}

// What is wrong with a well-formed line's entry: reported, but the entry is kept.
std::optional<std::string> EntryProblem(std::string_view name, std::string_view value) {
  if (IsBlank(name.front()) || IsBlank(name.back())) {
    return Quoted(name) + " has blanks around its name, so it names no known entry";
  }
  if (IsIntegerEntry(name) && !ParseSettingsInt(value)) {
    return Quoted(name) + " is not a 32-bit decimal number";
  }
  if (name.starts_with(kPinLookalike)) {
    if (!PinnedPortNumber(name)) {
      return Quoted(name) + " names no port from " + PortName(kLowestPortNumber) + " to " +
             PortName(kHighestPortNumber);
    }
    if (!IsDevicePath(value)) return Quoted(name) + " is not an absolute device path";
  }
  return std::nullopt;
}

class Parser {
 public:
  // `check_use`: also warn about entries that nothing reads where they stand.
  explicit Parser(bool check_use, SettingsFileKind kind = SettingsFileKind::kUser)
      : check_use_(check_use), kind_(kind) {}

  ParsedSettings Parse(std::string_view text) {
    if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
    std::size_t line_number = 0;
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      ++line_number;
      if (line.ends_with('\r')) line.remove_suffix(1);
      ParseLine(line_number, line);
    }
    return std::move(result_);
  }

 private:
  void ParseLine(std::size_t line_number, std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') return;
    if (std::optional<std::string> problem = LineBytesProblem(line)) {
      return Warn(line_number, std::move(*problem));
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      if (std::optional<std::string> section = SectionHeader(line)) {
        section_ = std::move(*section);
        return;
      }
      return Warn(line_number, "has no '=' sign");
    }
    const std::string_view name = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    if (IsBlankText(name)) return Warn(line_number, "has an empty name");
    if (std::optional<std::string> problem = EntryProblem(name, value)) {
      Warn(line_number, std::move(*problem));
    } else if (std::optional<std::string> unused = check_use_ ? UnusedEntryProblem(name, section_, kind_) : std::nullopt) {
      Warn(line_number, std::move(*unused), /*unused_entry=*/true);
    }
    if (section_.empty()) return Store(line_number, name, value);
    Store(line_number, std::string(kSectionEntryPrefix) + section_ + "\\" + std::string(name), value);
  }

  void Store(std::size_t line_number, std::string_view name, std::string_view value) {
    const auto [found, inserted] =
        first_lines_.try_emplace(std::string(name), FirstLine{result_.entries.size(), line_number});
    if (inserted) {
      result_.entries.push_back({std::string(name), std::string(value)});
      return;
    }
    result_.entries[found->second.index].value = std::string(value);
    Warn(line_number, "repeats " + Quoted(name) + " from line " +
                          std::to_string(found->second.line) + "; this later value is used");
  }

  void Warn(std::size_t line_number, std::string reason, bool unused_entry = false) {
    if (result_.warnings.size() < ParsedSettings::kMaxWarnings) {
      result_.warnings.push_back({line_number, std::move(reason), unused_entry});
    } else {
      ++result_.warnings_left_off;
    }
  }

  struct FirstLine {
    std::size_t index;  // into result_.entries
    std::size_t line;
  };

  bool check_use_;
  SettingsFileKind kind_;
  ParsedSettings result_;
  std::map<std::string, FirstLine, std::less<>> first_lines_;
  std::string section_;  // the port section the lines belong to; empty before the first
};

std::string WarningSummary(const fs::path& path, const ParsedSettings& parsed) {
  std::string summary = "Settings file " + QuotedPath(path) + ":";
  const std::size_t shown = std::min(parsed.warnings.size(), kWarningsInSummary);
  for (std::size_t i = 0; i < shown; ++i) {
    const SettingsWarning& warning = parsed.warnings[i];
    summary +=
        (i == 0 ? " line " : "; line ") + std::to_string(warning.line) + " " + warning.reason;
  }
  const std::size_t more = parsed.warnings.size() - shown + parsed.warnings_left_off;
  if (more > 0) summary += "; and " + std::to_string(more) + " more";
  return summary + ". Entries that could not be read keep their defaults.";
}

std::string AbsolutePathFromEnvironment(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr || *value == '\0' || !fs::path(value).is_absolute()) return "";
  return value;
}

// Why an environment variable gives no folder: "HOME is not set".
std::string EnvironmentFolderProblem(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr) return std::string(variable) + " is not set";
  if (*value == '\0') return std::string(variable) + " is empty";
  return std::string(variable) + " is not an absolute path";
}

}  // namespace

ParsedSettings ParseSettingsText(std::string_view text, SettingsFileKind kind) {
  return Parser(/*check_use=*/true, kind).Parse(text);
}

std::string FormatSettingsText(const std::vector<SettingsEntry>& entries) {
  std::string text =
      "# Lintrel settings: one Name=Value a line. Saving rewrites this file and drops comments.\n";
  // The entries outside every section first: after a section header they would belong to it.
  std::vector<std::string_view> sections;
  for (const SettingsEntry& entry : entries) {
    const auto [section, name] = SplitSection(entry.name);
    if (section.empty()) {
      text.append(name).append("=").append(entry.value).append("\n");
    } else if (std::find(sections.begin(), sections.end(), section) == sections.end()) {
      sections.push_back(section);
    }
  }
  for (const std::string_view section : sections) {
    text.append("\n[").append(section).append("]\n");
    for (const SettingsEntry& entry : entries) {
      const auto [entry_section, name] = SplitSection(entry.name);
      if (entry_section == section) text.append(name).append("=").append(entry.value).append("\n");
    }
  }
  return text;
}

std::optional<int32_t> ParseSettingsInt(std::string_view value) {
  int32_t number = 0;
  const char* end = value.data() + value.size();
  const auto [stop, error] = std::from_chars(value.data(), end, number);
  if (value.empty() || error != std::errc() || stop != end) return std::nullopt;
  return number;
}

std::optional<std::string> UnstorableEntryReason(std::string_view name, std::string_view value) {
  if (std::optional<std::string> problem = LineBytesProblem(name)) return "the name " + *problem;
  if (std::optional<std::string> problem = LineBytesProblem(value)) return "the value " + *problem;
  if (IsBlankText(name)) return "the name is empty";
  if (name.find('=') != std::string_view::npos) return "the name contains '='";
  const std::size_t first = name.find_first_not_of(" \t");
  if (first != std::string_view::npos && name[first] == '#') return "the name starts with '#'";
  // Anything else the file cannot hold shows when the line is read back.
  const ParsedSettings parsed =
      Parser(/*check_use=*/false).Parse(FormatSettingsText({{std::string(name), std::string(value)}}));
  if (!parsed.warnings.empty()) return parsed.warnings.front().reason;
  if (parsed.entries.size() != 1 ||
      parsed.entries.front() != SettingsEntry{std::string(name), std::string(value)}) {
    return "it would not read back as written";
  }
  return std::nullopt;
}

std::string QuotedPath(const fs::path& path) {
  try {
    const std::u8string text = path.u8string();
    std::string quoted = "\"";
    quoted.append(text.begin(), text.end());
    quoted += '"';
    return quoted;
  } catch (const std::exception&) {
    return "(a path that cannot be shown)";
  }
}

std::string DevicePinEntry(int port_number) {
  return std::string(kPinPrefix) + PortName(port_number);
}

FileSettingsStore::FileSettingsStore(fs::path path, SettingsFileAccess& access,
                                     std::vector<SettingsEntry> entries, std::string unread_problem)
    : path_(std::move(path)),
      access_(&access),
      entries_(std::move(entries)),
      unread_problem_(std::move(unread_problem)) {}

FileSettingsStore FileSettingsStore::Open(fs::path path, SettingsFileAccess& access, std::string* warning,
                                          SettingsFileKind kind) {
  if (warning != nullptr) warning->clear();
  std::string problem;
  ParsedSettings parsed;
  try {
    SettingsFileContent file;
    if (!path.empty()) file = access.Read(path, kMaxFileBytes);
    problem = std::move(file.problem);
    if (file.outcome == SettingsFileContent::Outcome::kRead) parsed = ParseSettingsText(file.text, kind);
  } catch (const std::exception& e) {
    problem = std::string("could not be read: ") + e.what();
  }
  if (warning != nullptr) {
    if (!problem.empty()) {
      *warning = "Settings file " + QuotedPath(path) + " " + problem +
                 "; the defaults are used, and saving will not replace it.";
    } else if (!parsed.warnings.empty()) {
      *warning = WarningSummary(path, parsed);
    }
  }
  return FileSettingsStore(std::move(path), access, std::move(parsed.entries), std::move(problem));
}

const SettingsEntry* FileSettingsStore::Find(std::string_view name) const {
  const auto found =
      std::find_if(entries_.begin(), entries_.end(),
                   [name](const SettingsEntry& entry) { return entry.name == name; });
  return found == entries_.end() ? nullptr : &*found;
}

std::optional<std::string> FileSettingsStore::ReadString(const std::string& entry) {
  const SettingsEntry* found = Find(entry);
  if (found == nullptr) return std::nullopt;
  return found->value;
}

std::optional<int32_t> FileSettingsStore::ReadInt(const std::string& entry) {
  const SettingsEntry* found = Find(entry);
  if (found == nullptr) return std::nullopt;
  return ParseSettingsInt(found->value);
}

void FileSettingsStore::WriteString(const std::string& entry, const std::string& value) {
  Write(entry, value);
}

void FileSettingsStore::WriteInt(const std::string& entry, int32_t value) {
  Write(entry, std::to_string(value));
}

void FileSettingsStore::Remove(const std::string& entry) {
  std::erase_if(entries_, [&](const SettingsEntry& stored) { return stored.name == entry; });
}

std::vector<std::string> FileSettingsStore::Names() {
  std::vector<std::string> names;
  for (const SettingsEntry& entry : entries_) names.push_back(entry.name);
  return names;
}

void FileSettingsStore::Write(const std::string& name, std::string value) {
  if (std::optional<std::string> reason = UnstorableEntryReason(name, value)) {
    rejected_writes_.push_back("cannot store " + Quoted(name) + ": " + *reason);
    return;
  }
  for (SettingsEntry& entry : entries_) {
    if (entry.name == name) {
      entry.value = std::move(value);
      return;
    }
  }
  entries_.push_back({name, std::move(value)});
}

std::string FileSettingsStore::Save() {
  if (path_.empty()) return "nowhere to save the settings: " + NoSettingsFolderReason();
  // What could not be read would be lost: the pins and entries of the user's own file.
  if (!unread_problem_.empty()) {
    return "the settings file " + QuotedPath(path_) + " " + unread_problem_ +
           ", so its content was not read and it is not replaced";
  }
  try {
    return access_->Replace(path_, FormatSettingsText(entries_));
  } catch (const std::exception& e) {
    return "cannot save " + QuotedPath(path_) + ": " + e.what();
  }
}

bool FileSettingsStore::Flush(std::string* error) {
  std::string reasons = Save();
  for (const std::string& rejected : rejected_writes_) {
    reasons += (reasons.empty() ? "" : "; ") + rejected;
  }
  rejected_writes_.clear();
  if (reasons.empty()) return true;
  if (error != nullptr) *error = std::move(reasons);
  return false;
}

std::map<int, std::string> ReadDevicePins(SettingsStore& store) {
  std::map<int, std::string> pins;
  for (const std::string& name : store.Names()) {
    const std::optional<int> port = PinnedPortNumber(name);
    const std::optional<std::string> path = port ? store.ReadString(name) : std::nullopt;
    if (path && IsDevicePath(*path)) pins[*port] = *path;
  }
  return pins;
}

std::filesystem::path DefaultSettingsPath(std::string_view application_name) {
  fs::path base = AbsolutePathFromEnvironment("XDG_CONFIG_HOME");
  if (base.empty()) {
    const fs::path home = AbsolutePathFromEnvironment("HOME");
    if (home.empty()) return {};
    base = home / ".config";
  }
  return base / "lintrel" / (std::string(application_name) + ".conf");
}

std::vector<std::filesystem::path> MachineSettingsPaths(std::string_view application_name) {
  const char* value = std::getenv("XDG_CONFIG_DIRS");
  const std::string folders = value != nullptr && *value != '\0' ? value : "/etc/xdg";
  std::vector<fs::path> paths;
  for (std::size_t start = 0; start <= folders.size();) {
    const std::size_t colon = std::min(folders.find(':', start), folders.size());
    // The rules say a relative path is to be ignored.
    if (const fs::path folder = folders.substr(start, colon - start); folder.is_absolute()) {
      paths.push_back(folder / "lintrel" / (std::string(application_name) + ".conf"));
    }
    start = colon + 1;
  }
  return paths;
}

std::string NoSettingsFolderReason() {
  return EnvironmentFolderProblem("XDG_CONFIG_HOME") + " and " + EnvironmentFolderProblem("HOME");
}

}  // namespace lintrel
