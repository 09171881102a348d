#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "settings/settings_store.h"

namespace lintrel::testing {

// An in-memory store whose entries have kinds, as registry values do: a string entry read
// as an integer (or the other way round) reads as missing.
class FakeSettingsStore : public SettingsStore {
 public:
  using Value = std::variant<std::string, int32_t>;

  std::map<std::string, Value> values;          // everything written
  std::map<std::string, Value> flushed_values;  // as of the last successful Flush()
  std::vector<std::string> calls;               // "string Port=COM3", "int Parity=0", "flush"
  std::optional<std::string> flush_failure;     // when set, Flush() fails with this reason
  const CodePage* older_versions_code_page = nullptr;  // a registry's, in a test of one

  std::optional<std::string> ReadString(const std::string& entry) override {
    return Read<std::string>(entry);
  }
  std::optional<int32_t> ReadInt(const std::string& entry) override { return Read<int32_t>(entry); }

  void WriteString(const std::string& entry, const std::string& value) override {
    calls.push_back("string " + entry + "=" + value);
    values[entry] = value;
  }
  void WriteInt(const std::string& entry, int32_t value) override {
    calls.push_back("int " + entry + "=" + std::to_string(value));
    values[entry] = value;
  }

  void Remove(const std::string& entry) override {
    calls.push_back("remove " + entry);
    values.erase(entry);
  }

  std::vector<std::string> Names() override {
    std::vector<std::string> names;
    for (const auto& [name, value] : values) names.push_back(name);
    return names;
  }

  const CodePage* OlderVersionsCodePage() const override { return older_versions_code_page; }

  bool Flush(std::string* error) override {
    calls.push_back("flush");
    if (flush_failure) {
      if (error != nullptr) *error = *flush_failure;
      return false;
    }
    flushed_values = values;
    return true;
  }

 private:
  template <typename T>
  std::optional<T> Read(const std::string& entry) const {
    const auto found = values.find(entry);
    if (found == values.end() || !std::holds_alternative<T>(found->second)) return std::nullopt;
    return std::get<T>(found->second);
  }
};

}  // namespace lintrel::testing
