#include <windows.h>

#include <memory>

#include "platform/registry.h"

namespace lintrel::platform {
namespace {

HKEY ToHandle(RegistryReader::Key key) { return reinterpret_cast<HKEY>(static_cast<uintptr_t>(key)); }

class Win32RegistryReader : public RegistryReader {
 public:
  Key OpenKey(const std::string& path) override {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return kNoKey;
    return static_cast<Key>(reinterpret_cast<uintptr_t>(key));
  }

  std::optional<uint32_t> CountValues(Key key) override {
    if (key == kNoKey) return std::nullopt;
    DWORD values = 0;
    if (RegQueryInfoKeyA(ToHandle(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    return values;
  }

  std::optional<RegistryValue> ReadValue(Key key, uint32_t index) override {
    if (key == kNoKey) return std::nullopt;
    char name[kRegistryBufferSize] = {};
    BYTE data[kRegistryBufferSize] = {};
    DWORD name_size = kRegistryBufferSize;
    DWORD data_size = kRegistryBufferSize;
    if (RegEnumValueA(ToHandle(key), index, name, &name_size, nullptr, nullptr, data, &data_size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    return RegistryValue{.name = std::string(name, name_size),
                         .data = std::string(reinterpret_cast<const char*>(data), data_size)};
  }

  void CloseKey(Key key) override {
    if (key != kNoKey) RegCloseKey(ToHandle(key));
  }
};

}  // namespace

std::unique_ptr<RegistryReader> OpenSystemRegistry() { return std::make_unique<Win32RegistryReader>(); }

}  // namespace lintrel::platform
