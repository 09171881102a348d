#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/code_page.h"

namespace lintrel {

// The per-user values one application keeps between runs: named entries, each a string or
// a 32-bit integer. On Windows they are registry values of the application's key; elsewhere
// they live in a settings file.
//
// Writes may be held back until Flush(): nothing is guaranteed stored before it returns
// true.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // Empty when the entry is missing or holds a value of another kind.
  virtual std::optional<std::string> ReadString(const std::string& entry) = 0;
  virtual std::optional<int32_t> ReadInt(const std::string& entry) = 0;

  virtual void WriteString(const std::string& entry, const std::string& value) = 0;
  virtual void WriteInt(const std::string& entry, int32_t value) = 0;
  // Removes the entry; an entry that is missing stays missing.
  virtual void Remove(const std::string& entry) = 0;

  // The name of every entry the store holds, of any kind, a port's as "Ports\COM5\Suffix",
  // in no particular order.
  virtual std::vector<std::string> Names() = 0;

  // The code page through which older versions' texts reached this store, for reading them
  // back as they were written (see ParseStoredText in common/text_escapes.h): on Windows the
  // registry's, whose ANSI calls they used (the system's ANSI code page); null for a store
  // that kept their bytes (the settings file, UTF-8).
  virtual const CodePage* OlderVersionsCodePage() const { return nullptr; }

  // Makes every write so far durable. On failure returns false and sets *error to a
  // reason a person can read.
  virtual bool Flush(std::string* error) = 0;
};

}  // namespace lintrel
