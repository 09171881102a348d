#include "capture/line_buffer.h"

#include <algorithm>

namespace lintrel {

LineBuffer::LineBuffer(std::string prefix) : prefix_(std::move(prefix)) {
  // The prefix goes in before the first received character, which must still fit.
  if (prefix_.size() >= kCapacity) prefix_.resize(kCapacity - 1);
}

void LineBuffer::Append(std::span<const uint8_t> chunk, const CaptureOptions& options,
                        const LineSink& finished) {
  // The prefix goes in as soon as any read, even an empty one, finds the line empty.
  StartLineWithPrefixIfEmpty(options);
  for (const uint8_t byte : chunk) {
    StartLineWithPrefixIfEmpty(options);
    line_[length_++] = byte;
    // Every end character finishes its line, wherever it falls in the chunk: a read that
    // holds the end of one code and the start of the next must not type half a code, which
    // another port's line could then follow.
    const bool ended_by_end_character = byte == options.end_character;
    if (ended_by_end_character || length_ == kCapacity) Finish(ended_by_end_character, finished);
  }
}

void LineBuffer::StartLineWithPrefixIfEmpty(const CaptureOptions& options) {
  if (!options.prefix || length_ != 0) return;
  std::copy(prefix_.begin(), prefix_.end(), line_.begin());
  length_ = prefix_.size();
  prefix_length_ = prefix_.size();
}

void LineBuffer::Finish(bool ended_by_end_character, const LineSink& finished) {
  const std::size_t length = length_;
  const std::size_t prefix_length = prefix_length_;
  length_ = 0;
  prefix_length_ = 0;
  finished(FinishedLine{std::span<const uint8_t>(line_.data(), length), ended_by_end_character, prefix_length});
}

}  // namespace lintrel
