#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace lintrel {

// What reading the settings file found.
struct SettingsFileContent {
  enum class Outcome {
    kRead,     // `text` holds the whole file
    kMissing,  // nothing there (a first start): saving may create the file
    kNotRead,  // something there that was not read; `problem` says why
  };
  Outcome outcome = Outcome::kMissing;
  std::string text;
  std::string problem;  // completes "the settings file <path> ...": "is not a regular file"
};

// The two file operations the settings file needs. The settings layer holds this interface
// and platform/ implements it over the system's file calls (platform/posix/
// settings_file_access_posix.h), so that the dependency runs one way, platform to settings.
//
// Thread contract: no state of its own; calls may come from any thread, one file at a time.
class SettingsFileAccess {
 public:
  virtual ~SettingsFileAccess() = default;

  // Reads the file when it is a regular file (or a symbolic link to one) of at most
  // `max_bytes`. Anything else (a folder, a device, a FIFO) is not opened at all, so reading
  // has no side effect and never blocks.
  virtual SettingsFileContent Read(const std::filesystem::path& path, std::uintmax_t max_bytes) = 0;

  // Makes `text` the file's content, whole or not at all, durably: written to a new file in
  // the same folder, synced, renamed over the old one, and the folder synced. Only a regular
  // file the user owns is replaced; a symbolic link to one is written through to its target,
  // which keeps its owner and mode. A missing file is created with its folders. Returns ""
  // on success, else why nothing was changed (a sentence naming the path).
  virtual std::string Replace(const std::filesystem::path& path, std::string_view text) = 0;
};

}  // namespace lintrel
