// Line assembly against a byte-at-a-time model of the line rules.
//
// The input is decoded into a prefix and then a sequence of reads:
//   byte 0         port number: the prefix is "COM<n>:"
//   bytes 1, 2     padding (little-endian, modulo 2049): that many '#' follow "COM<n>:", so
//                  that prefixes near and past the line's capacity are tried too
//   per read       flags (bit 0 prefix, bit 1 truncate, bit 2 end the chunk with the end
//                  character, bit 3 UTF-8, else Latin-1), end character (1 + byte % 31),
//                  chunk length (two bytes,
//                  little-endian, modulo 1025), then that many bytes (fewer at the end)
// Every read runs through a LineBuffer, the line shaping and the model; any difference in
// the lines typed, in the line pending, or a line longer than the capacity, traps.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "capture/line_buffer.h"
#include "capture/line_shaping.h"
#include "common/utf8_text.h"
#include "fuzz/fuzz_input.h"

namespace {

using lintrel::CaptureOptions;
using lintrel::FinishedLine;
using lintrel::LineBuffer;
using lintrel::TextEncoding;
using lintrel::fuzz::InputReader;
using lintrel::fuzz::Require;

constexpr std::size_t kMaxChunk = 1024;
constexpr std::size_t kMaxPadding = 2048;

struct Read {
  CaptureOptions rules;
  std::vector<uint8_t> chunk;
};

std::string DecodePrefix(InputReader& input) {
  std::string prefix = "COM" + std::to_string(input.Byte()) + ":";
  const std::size_t low = input.Byte();
  const std::size_t padding = (low | static_cast<std::size_t>(input.Byte()) << 8) % (kMaxPadding + 1);
  return prefix + std::string(padding, '#');
}

Read DecodeRead(InputReader& input) {
  Read read;
  const uint8_t flags = input.Byte();
  read.rules.prefix = (flags & 1) != 0;
  read.rules.truncate = (flags & 2) != 0;
  read.rules.encoding = (flags & 8) != 0 ? TextEncoding::kUtf8 : TextEncoding::kLatin1;
  read.rules.end_character = static_cast<uint8_t>(1 + input.Byte() % 31);
  const std::size_t low = input.Byte();
  const std::size_t length = (low | static_cast<std::size_t>(input.Byte()) << 8) % (kMaxChunk + 1);
  const std::span<const uint8_t> bytes = input.Bytes(length);
  read.chunk.assign(bytes.begin(), bytes.end());
  // Lines that end by their end character would otherwise be rare.
  if ((flags & 4) != 0) {
    if (read.chunk.size() == kMaxChunk) read.chunk.pop_back();
    read.chunk.push_back(read.rules.end_character);
  }
  return read;
}

// The line rules one byte at a time: the prefix (no longer than leaves room for one byte)
// goes in whenever a read, or the next byte of a read, finds the line empty; a line ends
// when it is full, or at each end character (dropped when truncating); an empty line is
// not typed. Under UTF-8 a full line gives the beginning of a character it ends with to the
// next line.
class LineModel {
 public:
  explicit LineModel(const std::string& prefix) : prefix_(prefix.substr(0, LineBuffer::kCapacity - 1)) {}

  void Append(const Read& read) {
    StartWithPrefixIfEmpty(read.rules);
    for (std::size_t i = 0; i < read.chunk.size(); ++i) {
      StartWithPrefixIfEmpty(read.rules);
      line_.push_back(static_cast<char>(read.chunk[i]));
      if (read.chunk[i] == read.rules.end_character) {
        if (read.rules.truncate) line_.pop_back();
        Finish();
      } else if (line_.size() == LineBuffer::kCapacity) {
        FinishFull(read.rules);
      }
    }
  }

  const std::vector<std::string>& lines() const { return lines_; }
  const std::string& pending() const { return line_; }

 private:
  void StartWithPrefixIfEmpty(const CaptureOptions& rules) {
    if (!line_.empty()) return;
    prefixed_ = rules.prefix;
    if (prefixed_) line_ = prefix_;
  }

  void FinishFull(const CaptureOptions& rules) {
    std::size_t carried = 0;
    if (rules.encoding == TextEncoding::kUtf8) {
      const std::size_t data_start = prefixed_ ? prefix_.size() : 0;
      const auto* data = reinterpret_cast<const uint8_t*>(line_.data()) + data_start;
      carried = lintrel::IncompleteUtf8Tail(std::span<const uint8_t>(data, line_.size() - data_start));
      if (prefix_.size() + carried >= LineBuffer::kCapacity) carried = 0;
    }
    const std::string carry = line_.substr(line_.size() - carried);
    line_.resize(line_.size() - carried);
    Finish();
    if (carry.empty()) return;
    StartWithPrefixIfEmpty(rules);
    line_ += carry;
  }

  void Finish() {
    if (!line_.empty()) lines_.push_back(line_);
    line_.clear();
  }

  std::string prefix_;
  std::string line_;
  bool prefixed_ = false;  // the line began with the prefix
  std::vector<std::string> lines_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  InputReader input(std::span<const uint8_t>(data, size));
  const std::string prefix = DecodePrefix(input);

  LineBuffer buffer(prefix);
  LineModel model(prefix);
  std::vector<std::string> typed;
  CaptureOptions rules;
  const LineBuffer::LineSink collect = [&typed, &rules](const FinishedLine& line) {
    Require(!line.text.empty() && line.text.size() <= LineBuffer::kCapacity);
    // Read as Latin-1, every byte is the character of the same number.
    CaptureOptions latin1 = rules;
    latin1.encoding = TextEncoding::kLatin1;
    const std::u32string keys = lintrel::ShapeLine(line, latin1).keys;
    std::string bytes;
    for (const char32_t character : keys) bytes.push_back(static_cast<char>(character));
    if (!bytes.empty()) typed.push_back(std::move(bytes));
  };

  // Without prefix and truncation the typed lines and the pending line, run together, are
  // exactly the bytes received: a check that does not lean on the model.
  bool plain_rules = true;
  std::string received;
  while (!input.done()) {
    const Read read = DecodeRead(input);
    rules = read.rules;
    buffer.Append(read.chunk, read.rules, collect);
    model.Append(read);
    plain_rules = plain_rules && !read.rules.prefix && !read.rules.truncate;
    received.append(read.chunk.begin(), read.chunk.end());

    Require(typed == model.lines());
    const std::span<const uint8_t> contents = buffer.Contents();
    Require(contents.size() == buffer.Length() && contents.size() < LineBuffer::kCapacity);
    Require(std::string(contents.begin(), contents.end()) == model.pending());
  }
  if (plain_rules) {
    std::string all_typed;
    for (const std::string& line : typed) all_typed += line;
    const std::span<const uint8_t> contents = buffer.Contents();
    all_typed.append(contents.begin(), contents.end());
    Require(all_typed == received);
  }
  return 0;
}
