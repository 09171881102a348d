#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace lintrel {

// Collects received bytes into lines.
//
// A line is finished by each end character, wherever it falls in a chunk, or when the line
// is full. A line never holds more than kCapacity characters: the bytes that do not fit
// start the next line, so nothing is lost or reordered. What follows an end character in
// the same chunk starts the next line.
class LineBuffer {
 public:
  static constexpr std::size_t kCapacity = 1023;

  struct Rules {
    bool prefix = false;     // each line begins with the port's name and a colon
    bool truncate = false;   // the end character of a finished line is not typed
    uint8_t end_character = 13;
  };

  using LineSink = std::function<void(std::span<const uint8_t> line)>;

  // `prefix` is the text that begins each line when Rules::prefix is set ("COM3:").
  explicit LineBuffer(std::string prefix);

  // Runs one chunk (possibly empty) through the line rules; hands every line it finishes
  // to `finished`, in order.
  void Append(std::span<const uint8_t> chunk, const Rules& rules, const LineSink& finished);

  std::span<const uint8_t> Contents() const { return {line_.data(), length_}; }
  std::size_t Length() const { return length_; }

 private:
  void StartLineWithPrefixIfEmpty(const Rules& rules);
  void Finish(bool ended_by_end_character, const Rules& rules, const LineSink& finished);

  std::string prefix_;
  std::array<uint8_t, kCapacity> line_{};
  std::size_t length_ = 0;
};

}  // namespace lintrel
