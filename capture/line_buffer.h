#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "settings/capture_options.h"

namespace lintrel {

// A line as the buffer finishes it: every character it collected, the prefix and the end
// character included.
struct FinishedLine {
  std::span<const uint8_t> text;
  bool ended_by_end_character = false;  // false: cut because it was full
  std::size_t prefix_length = 0;        // how much of `text` is the port-name prefix
};

// Collects received bytes into lines.
//
// A line is finished by each end character, wherever it falls in a chunk, or when the line
// is full. A line never holds more than kCapacity characters: the bytes that do not fit
// start the next line, so nothing is lost or reordered. Under UTF-8 a full line is cut
// before a character whose first bytes would end it (up to three bytes short), and the
// character starts the next line whole. What follows an end character in the same chunk
// starts the next line.
class LineBuffer {
 public:
  static constexpr std::size_t kCapacity = 1023;

  using LineSink = std::function<void(const FinishedLine& line)>;

  // `prefix` is the text that begins each line when the options ask for it ("COM3:"). A
  // prefix that would fill a line is cut to leave room for one received character.
  explicit LineBuffer(std::string prefix);

  // Runs one chunk (possibly empty) through the line rules of `options` (the prefix and the
  // end character); hands every line it finishes to `finished`, in order.
  void Append(std::span<const uint8_t> chunk, const CaptureOptions& options, const LineSink& finished);

  std::span<const uint8_t> Contents() const { return {line_.data(), length_}; }
  std::size_t Length() const { return length_; }

 private:
  void StartLineWithPrefixIfEmpty(const CaptureOptions& options);
  void Finish(bool ended_by_end_character, const LineSink& finished);
  void FinishFull(const CaptureOptions& options, const LineSink& finished);

  std::string prefix_;
  std::array<uint8_t, kCapacity> line_{};
  std::size_t length_ = 0;
  std::size_t prefix_length_ = 0;  // of the line being collected
};

}  // namespace lintrel
