#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/registry.h"
#include "platform/win32/wide_text.h"

namespace lintrel::platform {
namespace {

HKEY ToHandle(RegistryReader::Key key) { return reinterpret_cast<HKEY>(static_cast<uintptr_t>(key)); }

class Win32RegistryReader : public RegistryReader {
 public:
  Key OpenKey(const std::string& path) override {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideText(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return kNoKey;
    return static_cast<Key>(reinterpret_cast<uintptr_t>(key));
  }

  std::optional<uint32_t> CountValues(Key key) override {
    if (key == kNoKey) return std::nullopt;
    DWORD values = 0;
    if (RegQueryInfoKeyW(ToHandle(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    return values;
  }

  // Read through the W call, a text value's data is UTF-16: it is given as UTF-8 with its
  // terminating zero, and the buffer sizes hold for the name's characters and for the data
  // as given.
  std::optional<RegistryValue> ReadValue(Key key, uint32_t index) override {
    if (key == kNoKey) return std::nullopt;
    wchar_t name[kRegistryBufferSize] = {};
    BYTE data[2 * kRegistryBufferSize] = {};
    DWORD name_size = kRegistryBufferSize;
    DWORD data_size = sizeof data;
    DWORD type = 0;
    if (RegEnumValueW(ToHandle(key), index, name, &name_size, nullptr, &type, data, &data_size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    std::string bytes(reinterpret_cast<const char*>(data), data_size);
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::wstring text(data_size / sizeof(wchar_t), L'\0');
      std::memcpy(text.data(), data, text.size() * sizeof(wchar_t));
      if (const std::size_t zero = text.find(L'\0'); zero != std::wstring::npos) text.resize(zero);
      bytes = Utf8Text(text);
      bytes.push_back('\0');
    }
    if (bytes.size() > kRegistryBufferSize) return std::nullopt;
    return RegistryValue{.name = Utf8Text(std::wstring_view(name, name_size)), .data = std::move(bytes)};
  }

  void CloseKey(Key key) override {
    if (key != kNoKey) RegCloseKey(ToHandle(key));
  }
};

}  // namespace

std::unique_ptr<RegistryReader> OpenSystemRegistry() { return std::make_unique<Win32RegistryReader>(); }

}  // namespace lintrel::platform
