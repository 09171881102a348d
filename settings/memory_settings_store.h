#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "settings/settings_store.h"

namespace lintrel {

// Settings held in memory only, in the order they were first written: the options of a
// command line as a layer of settings, or the values a program shows. Entries have kinds, as
// registry values do: a text read as an integer (or the other way round) reads as missing.
class MemorySettingsStore : public SettingsStore {
 public:
  using Value = std::variant<std::string, int32_t>;

  std::optional<std::string> ReadString(const std::string& entry) override { return Read<std::string>(entry); }
  std::optional<int32_t> ReadInt(const std::string& entry) override { return Read<int32_t>(entry); }
  void WriteString(const std::string& entry, const std::string& value) override { Write(entry, value); }
  void WriteInt(const std::string& entry, int32_t value) override { Write(entry, value); }
  void Remove(const std::string& entry) override {
    std::erase_if(entries_, [&](const auto& stored) { return stored.first == entry; });
  }
  std::vector<std::string> Names() override {
    std::vector<std::string> names;
    for (const auto& [name, value] : entries_) names.push_back(name);
    return names;
  }
  bool Flush(std::string* /*error*/) override { return true; }

  // The entry's value as text, an integer in decimal; nullopt when it is missing.
  std::optional<std::string> Text(const std::string& entry) const {
    const auto found = Find(entry);
    if (found == entries_.end()) return std::nullopt;
    if (const auto* number = std::get_if<int32_t>(&found->second)) return std::to_string(*number);
    return std::get<std::string>(found->second);
  }

 private:
  using Entries = std::vector<std::pair<std::string, Value>>;

  Entries::const_iterator Find(const std::string& entry) const {
    return std::find_if(entries_.begin(), entries_.end(), [&](const auto& stored) { return stored.first == entry; });
  }

  template <typename T>
  std::optional<T> Read(const std::string& entry) const {
    const auto found = Find(entry);
    if (found == entries_.end() || !std::holds_alternative<T>(found->second)) return std::nullopt;
    return std::get<T>(found->second);
  }

  void Write(const std::string& entry, Value value) {
    for (auto& stored : entries_) {
      if (stored.first == entry) {
        stored.second = std::move(value);
        return;
      }
    }
    entries_.emplace_back(entry, std::move(value));
  }

  Entries entries_;
};

}  // namespace lintrel
