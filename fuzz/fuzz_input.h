#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace lintrel::fuzz {

// Aborts the run, so that libFuzzer keeps the input, when a property does not hold.
inline void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// Reads a fuzz input front to back as the targets decode it; past the end it yields zeros
// and empty fields.
class InputReader {
 public:
  explicit InputReader(std::span<const uint8_t> data) : data_(data) {}

  bool done() const { return at_ == data_.size(); }

  uint8_t Byte() { return done() ? 0 : data_[at_++]; }

  // Up to `count` bytes, fewer at the end of the input.
  std::span<const uint8_t> Bytes(std::size_t count) {
    const std::size_t taken = std::min(count, data_.size() - at_);
    const std::span<const uint8_t> bytes = data_.subspan(at_, taken);
    at_ += taken;
    return bytes;
  }

  // A field of text: a length byte, then that many bytes.
  std::string Field() {
    const std::span<const uint8_t> bytes = Bytes(Byte());
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  std::span<const uint8_t> data_;
  std::size_t at_ = 0;
};

}  // namespace lintrel::fuzz
