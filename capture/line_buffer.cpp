#include "capture/line_buffer.h"

#include <algorithm>

namespace lintrel {

LineBuffer::LineBuffer(std::string prefix) : prefix_(std::move(prefix)) {
  if (prefix_.size() > kCapacity) prefix_.resize(kCapacity);
}

void LineBuffer::Append(std::span<const uint8_t> chunk, const Rules& rules,
                        const LineSink& finished) {
  // The prefix goes in as soon as any read, even an empty one, finds the line empty.
  StartLineWithPrefixIfEmpty(rules);
  for (const uint8_t byte : chunk) {
    StartLineWithPrefixIfEmpty(rules);
    line_[length_++] = byte;
    // Every end character finishes its line, wherever it falls in the chunk: a read that
    // holds the end of one code and the start of the next must not type half a code, which
    // another port's line could then follow.
    const bool ended_by_end_character = byte == rules.end_character;
    if (ended_by_end_character || length_ == kCapacity) Finish(ended_by_end_character, rules, finished);
  }
}

void LineBuffer::StartLineWithPrefixIfEmpty(const Rules& rules) {
  if (!rules.prefix || length_ != 0) return;
  std::copy(prefix_.begin(), prefix_.end(), line_.begin());
  length_ = prefix_.size();
}

void LineBuffer::Finish(bool ended_by_end_character, const Rules& rules,
                        const LineSink& finished) {
  std::size_t typed = length_;
  // Truncation drops the end character. A line cut because it was full keeps every
  // character it received.
  if (rules.truncate && ended_by_end_character) --typed;
  length_ = 0;
  if (typed > 0) finished(std::span<const uint8_t>(line_.data(), typed));
}

}  // namespace lintrel
