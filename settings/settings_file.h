#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_file_access.h"
#include "settings/settings_store.h"

namespace lintrel {

// The settings file: where the per-user values live on Linux.
//
// Format. UTF-8 (or plain ASCII) text, one entry a line:
//
//   # Lines whose first non-blank character is '#' are comments; blank lines are ignored.
//   Port=COM3
//   Baud rate=5
//   Device COM3=/dev/ttyUSB0
//
// - The name is everything before the first '=' and may contain spaces ("Baud rate"); it is
//   not trimmed, so "Port =COM3" names an entry "Port " (which draws a warning).
// - The value is everything after the first '=', kept verbatim; only a trailing '\r' (a line
//   written on Windows) is dropped. An empty value is a value: "Port=" stores an empty name.
// - Integers are decimal 32-bit numbers, optionally preceded by '-'. The whole value must be
//   the number: "5 " or "99999999999" is not one, and the entry reads as missing.
// - "Device COMn" (COMn a port name, see common/port_number.h) pins port n to the device
//   file given by its absolute path.
// - A line "[COMn]" (COMn a port name, "COM" in any case) starts the section of port n: the
//   entries after it are the port's profile, named "Ports\COMn\<name>" in the store (COMn
//   as PortName() writes it, so [com5] and [COM5] are one section). A bracketed line that
//   names no port starts nothing (it has no '='). Entries before the first section are the
//   shared ones, as in files written before sections existed.
// - When a name appears more than once, the last line wins.
// - Lines holding a NUL byte, another control character than tab, or bytes that are not
//   UTF-8 are skipped, as are lines with no '=' or an empty name.
// - Every line that is not used gets one warning: besides the damaged ones, an entry no
//   reader uses where it stands (a name of no setting, "Replace 01", a pin inside a section,
//   a port's setting before the first section). Such an entry is still kept.
// - The file is rewritten whole when settings are saved: entries the program does not know
//   are kept, comments are not.

struct SettingsEntry {
  std::string name;
  std::string value;

  bool operator==(const SettingsEntry&) const = default;
};

// Something in the text that was skipped or will be read as missing. Lines count from 1.
struct SettingsWarning {
  std::size_t line = 0;
  std::string reason;  // e.g. "has no '=' sign"
  // The line is well formed and its entry kept, but nothing reads the entry there.
  bool unused_entry = false;
};

struct ParsedSettings {
  // One per name, in the order the names first appear, each with its last value.
  std::vector<SettingsEntry> entries;
  // The first kMaxWarnings problems found; the rest are only counted.
  std::vector<SettingsWarning> warnings;
  std::size_t warnings_left_off = 0;

  static constexpr std::size_t kMaxWarnings = 100;
};

// Whose settings a file holds. In the user's, the entries before the first section are the
// shared line settings and the pins; in a machine's or a policy file (see
// settings/layered_settings.h) a port's setting there is also every port's value.
enum class SettingsFileKind { kUser, kMachineOrPolicy };

// Reads settings text. Takes any bytes: it never fails, and its work grows linearly with the
// text (times the log of the number of entries).
ParsedSettings ParseSettingsText(std::string_view text, SettingsFileKind kind = SettingsFileKind::kUser);

// The text of the file holding these entries: a header comment, then one line per entry.
// Entries must be storable (see UnstorableEntryReason) for the text to read back the same.
std::string FormatSettingsText(const std::vector<SettingsEntry>& entries);

// The value as an integer of the file, or nullopt when it is not one.
std::optional<int32_t> ParseSettingsInt(std::string_view value);

// Why the entry cannot be written to the file and read back unchanged and without a warning
// other than its being unused (a line break in the value, '=' in the name, ...), or nullopt
// when it can.
std::optional<std::string> UnstorableEntryReason(std::string_view name, std::string_view value);

// "Device COM3" for port 3.
std::string DevicePinEntry(int port_number);

// The settings of one application kept in a settings file. Reads come from the copy loaded
// when the store was opened plus the writes since; Flush() writes the whole file anew.
class FileSettingsStore : public SettingsStore {
 public:
  // Largest file read; a bigger one is not a settings file of this program.
  static constexpr std::uintmax_t kMaxFileBytes = 1 << 20;

  // Loads the file through `access`, which must outlive the store. A missing file (or an
  // empty path: no place for settings) gives an empty store and no warning. A file that
  // cannot be read, is not a regular file, is too large, or holds damaged lines gives a store
  // with whatever could be read, and *warning (cleared otherwise) gets one line of text
  // naming the file and what was wrong. Never throws.
  static FileSettingsStore Open(std::filesystem::path path, SettingsFileAccess& access, std::string* warning,
                                SettingsFileKind kind = SettingsFileKind::kUser);

  // A text file holds no kinds: ReadString returns any entry's text, and ReadInt is empty
  // unless the text is an integer of the file.
  std::optional<std::string> ReadString(const std::string& entry) override;
  std::optional<int32_t> ReadInt(const std::string& entry) override;

  // A write the file cannot hold (see UnstorableEntryReason) leaves the entry as it was and
  // makes the next Flush() return false, naming the entry.
  void WriteString(const std::string& entry, const std::string& value) override;
  void WriteInt(const std::string& entry, int32_t value) override;
  void Remove(const std::string& entry) override;
  std::vector<std::string> Names() override;

  // Writes every entry to the file through SettingsFileAccess::Replace(): whole, durably,
  // and only over a regular file of the user's (or through a symbolic link to one). Refused,
  // with the reason in *error, when there is no place for settings or when the file that was
  // there at Open() could not be read: replacing it would lose what it holds. Never throws.
  bool Flush(std::string* error) override;

  const std::filesystem::path& path() const { return path_; }

 private:
  FileSettingsStore(std::filesystem::path path, SettingsFileAccess& access,
                    std::vector<SettingsEntry> entries, std::string unread_problem);

  // Writes the file; returns "" or why it was not written.
  std::string Save();

  const SettingsEntry* Find(std::string_view name) const;
  void Write(const std::string& name, std::string value);

  std::filesystem::path path_;
  SettingsFileAccess* access_;
  std::vector<SettingsEntry> entries_;
  std::string unread_problem_;  // why the file at path_ was not read; "" when it was (or is missing)
  std::vector<std::string> rejected_writes_;  // reasons, reported by the next Flush()
};

// Where the settings of `application_name` live: $XDG_CONFIG_HOME/lintrel/<name>.conf, with
// $HOME/.config standing in when XDG_CONFIG_HOME is unset, empty or not an absolute path.
// Empty when HOME is unset, empty or not absolute either: there is then no place to keep
// settings.
std::filesystem::path DefaultSettingsPath(std::string_view application_name);

// The machine's settings files of `application_name`: <dir>/lintrel/<name>.conf for each
// folder of $XDG_CONFIG_DIRS (its absolute paths, colon-separated; /etc/xdg when it is unset or
// empty), the most important first, as the XDG base directory rules order them.
std::vector<std::filesystem::path> MachineSettingsPaths(std::string_view application_name);

// Port number to device path, from the valid "Device COMn" entries of `store`.
std::map<int, std::string> ReadDevicePins(SettingsStore& store);

// Why DefaultSettingsPath() is empty, naming the variables: "XDG_CONFIG_HOME is not set and
// HOME is empty".
std::string NoSettingsFolderReason();

// The path in double quotes, for messages.
std::string QuotedPath(const std::filesystem::path& path);

}  // namespace lintrel
