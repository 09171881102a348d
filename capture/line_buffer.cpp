#include "capture/line_buffer.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "common/utf8_text.h"

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
    if (byte == options.end_character) {
      Finish(true, finished);
    } else if (length_ == kCapacity) {
      FinishFull(options, finished);
    }
  }
}

void LineBuffer::FinishFull(const CaptureOptions& options, const LineSink& finished) {
  // Under UTF-8, a character whose first bytes end the full line goes whole to the next
  // line: cut in two, each part would be typed as U+FFFD. The next line must still have
  // room for it after its prefix.
  std::size_t carried = 0;
  if (options.encoding == TextEncoding::kUtf8) {
    carried = IncompleteUtf8Tail(Contents().subspan(prefix_length_));
    if (prefix_.size() + carried >= kCapacity) carried = 0;
  }
  std::array<uint8_t, 3> carry{};
  const std::span<const uint8_t> tail = Contents().last(carried);
  std::copy(tail.begin(), tail.end(), carry.begin());
  length_ -= carried;
  Finish(false, finished);
  if (carried == 0) return;
  StartLineWithPrefixIfEmpty(options);
  for (std::size_t i = 0; i < carried; ++i) line_[length_++] = carry[i];
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
