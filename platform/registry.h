#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace lintrel::platform {

// Size of the name buffer and of the data buffer that every value enumeration passes.
// A name needs room for its terminating zero (at most 99 characters); data may fill all
// 100 bytes (a string's data counts its terminating zero).
inline constexpr std::size_t kRegistryBufferSize = 100;

// One registry value as an enumeration returns it: the name, and the data as raw bytes.
// The data of a string value includes its terminating zero, as the registry stores it.
struct RegistryValue {
  std::string name;
  std::string data;
};

// Read-only access to the machine-wide registry (HKEY_LOCAL_MACHINE on Windows), as the
// port discovery walks it. A key is an opaque handle; kNoKey stands for a failed open.
//
// Thread contract: used by one thread at a time.
class RegistryReader {
 public:
  using Key = std::uint64_t;
  static constexpr Key kNoKey = 0;

  virtual ~RegistryReader() = default;

  // Opens `path` (backslash-separated, below the machine-wide root) for reading.
  virtual Key OpenKey(const std::string& path) = 0;

  // The number of values the key holds; empty when the query fails, and for kNoKey.
  virtual std::optional<uint32_t> CountValues(Key key) = 0;

  // Value `index` of the key; empty when the read fails: no such index, or a name or data
  // that does not fit the kRegistryBufferSize buffers.
  virtual std::optional<RegistryValue> ReadValue(Key key, uint32_t index) = 0;

  // Releases a key from OpenKey(); does nothing for kNoKey.
  virtual void CloseKey(Key key) = 0;
};

// The machine's registry (Windows only).
std::unique_ptr<RegistryReader> OpenSystemRegistry();

}  // namespace lintrel::platform
