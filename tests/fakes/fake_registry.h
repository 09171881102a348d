#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace lintrel::testing {

// An in-memory registry. Keys are found by path without regard to case, as the registry
// finds them; each key holds its values in the order they were added. Reads fail the way
// the fixed 100-byte name and data buffers make them fail. Open keys are counted so a test
// can check that every key was closed.
class FakeRegistry : public platform::RegistryReader {
 public:
  // Creates the key (empty) if it does not exist yet.
  void AddKey(const std::string& path) { keys_[Fold(path)]; }

  // A string value: the data is the text and its terminating zero.
  void AddString(const std::string& path, std::string name, std::string_view text) {
    std::string data(text);
    data.push_back('\0');
    AddBinary(path, std::move(name), std::move(data));
  }

  // A value with exactly these data bytes.
  void AddBinary(const std::string& path, std::string name, std::string data) {
    keys_[Fold(path)].values.push_back({std::move(name), std::move(data)});
  }
  void AddBytes(const std::string& path, std::string name, std::initializer_list<uint8_t> bytes) {
    AddBinary(path, std::move(name), std::string(bytes.begin(), bytes.end()));
  }

  // The key opens but counting its values fails.
  void FailCount(const std::string& path) { keys_[Fold(path)].count_fails = true; }

  Key OpenKey(const std::string& path) override {
    opened_paths_.push_back(path);
    if (!keys_.contains(Fold(path))) return kNoKey;
    const Key key = next_key_++;
    open_keys_.emplace(key, Fold(path));
    return key;
  }

  std::optional<uint32_t> CountValues(Key key) override {
    const KeyData* data = Find(key);
    if (data == nullptr || data->count_fails) return std::nullopt;
    return static_cast<uint32_t>(data->values.size());
  }

  std::optional<platform::RegistryValue> ReadValue(Key key, uint32_t index) override {
    const KeyData* data = Find(key);
    if (data == nullptr || index >= data->values.size()) return std::nullopt;
    const platform::RegistryValue& value = data->values[index];
    // The name buffer needs room for a terminating zero; the data may fill its buffer.
    if (value.name.size() >= platform::kRegistryBufferSize ||
        value.data.size() > platform::kRegistryBufferSize) {
      return std::nullopt;
    }
    return value;
  }

  void CloseKey(Key key) override {
    if (key == kNoKey) return;
    if (open_keys_.erase(key) == 0) ++bad_closes_;
  }

  std::size_t open_key_count() const { return open_keys_.size(); }
  // CloseKey calls for keys that were not open (closed twice, never opened).
  int bad_closes() const { return bad_closes_; }
  // Every path passed to OpenKey, in order, whether or not the key exists.
  const std::vector<std::string>& opened_paths() const { return opened_paths_; }
  int OpenCount(const std::string& path) const {
    int count = 0;
    for (const std::string& opened : opened_paths_) count += Fold(opened) == Fold(path) ? 1 : 0;
    return count;
  }

 private:
  struct KeyData {
    std::vector<platform::RegistryValue> values;
    bool count_fails = false;
  };

  static std::string Fold(std::string_view path) {
    std::string folded(path);
    for (char& c : folded) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return folded;
  }

  const KeyData* Find(Key key) const {
    const auto open = open_keys_.find(key);
    if (open == open_keys_.end()) return nullptr;
    return &keys_.at(open->second);
  }

  std::map<std::string, KeyData> keys_;
  std::map<Key, std::string> open_keys_;
  std::vector<std::string> opened_paths_;
  Key next_key_ = 1;
  int bad_closes_ = 0;
};

}  // namespace lintrel::testing
