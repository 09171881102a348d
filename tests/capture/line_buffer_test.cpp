#include "capture/line_buffer.h"

#include <gtest/gtest.h>

#include "capture/line_shaping.h"

#include <random>
#include <string>
#include <vector>

namespace lintrel {
namespace {

// The lines are decoded as Latin-1, so that every byte comes back as itself.
std::string Latin1(std::u32string_view text) { return {text.begin(), text.end()}; }

// Feeds chunks through a LineBuffer and keeps what is typed of the lines it finishes, as
// a reader does.
class LineCollector {
 public:
  explicit LineCollector(CaptureOptions rules, std::string prefix = "COM3:")
      : rules_(rules), buffer_(std::move(prefix)) {}

  LineCollector& Feed(std::string_view chunk) {
    buffer_.Append({reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size()}, rules_,
                   [this](const FinishedLine& line) {
                     EXPECT_LE(line.text.size(), LineBuffer::kCapacity);
                     const std::u32string typed = ShapeLine(line, rules_).keys;
                     if (!typed.empty()) lines_.push_back(Latin1(typed));
                   });
    return *this;
  }

  const std::vector<std::string>& lines() const { return lines_; }
  std::string pending() const {
    auto contents = buffer_.Contents();
    return {contents.begin(), contents.end()};
  }

 private:
  CaptureOptions rules_;
  LineBuffer buffer_;
  std::vector<std::string> lines_;
};

CaptureOptions Rules(bool prefix, bool truncate, uint8_t end = '\r') {
  return {.prefix = prefix, .truncate = truncate, .end_character = end, .encoding = TextEncoding::kLatin1};
}

using Lines = std::vector<std::string>;

TEST(LineBufferTest, WholeLineInOneChunkKeepsOrDropsTheEndCharacter) {
  EXPECT_EQ(LineCollector(Rules(false, false)).Feed("ABC\r").lines(), Lines{"ABC\r"});
  EXPECT_EQ(LineCollector(Rules(false, true)).Feed("ABC\r").lines(), Lines{"ABC"});
}

TEST(LineBufferTest, LineSplitOverChunksIsTypedWhenTheEndCharacterEndsAChunk) {
  LineCollector collector(Rules(false, false));
  collector.Feed("AB");
  EXPECT_TRUE(collector.lines().empty());
  collector.Feed("\r");
  EXPECT_EQ(collector.lines(), Lines{"AB\r"});
  EXPECT_EQ(collector.pending(), "");
}

// A read may hold the end of one line and the start of the next (a device sending codes
// back to back): the first is typed at once, whole, and the rest waits for its own end.
TEST(LineBufferTest, EndCharacterInsideAChunkFinishesItsLine) {
  LineCollector collector(Rules(false, false));
  collector.Feed("A\rB");
  EXPECT_EQ(collector.lines(), Lines{"A\r"});
  EXPECT_EQ(collector.pending(), "B");
  collector.Feed("C\rD\rE\r");
  EXPECT_EQ(collector.lines(), (Lines{"A\r", "BC\r", "D\r", "E\r"}));
  EXPECT_EQ(collector.pending(), "");
}

TEST(LineBufferTest, EveryLineOfAChunkGetsThePrefixAndLosesItsEndCharacter) {
  LineCollector collector(Rules(true, true));
  collector.Feed("12\r34\r5");
  EXPECT_EQ(collector.lines(), (Lines{"COM3:12", "COM3:34"}));
  EXPECT_EQ(collector.pending(), "COM3:5");
}

TEST(LineBufferTest, OtherEndCharactersWork) {
  LineCollector collector(Rules(false, true, 0x03));
  collector.Feed("12\r34\x03");
  EXPECT_EQ(collector.lines(), Lines{"12\r34"});
}

TEST(LineBufferTest, PrefixBeginsEachLineOnce) {
  LineCollector collector(Rules(true, false));
  collector.Feed("AB").Feed("C\r").Feed("D\r");
  EXPECT_EQ(collector.lines(), (Lines{"COM3:ABC\r", "COM3:D\r"}));
}

TEST(LineBufferTest, PrefixWithALoneEndCharacter) {
  EXPECT_EQ(LineCollector(Rules(true, false)).Feed("\r").lines(), Lines{"COM3:\r"});
  EXPECT_EQ(LineCollector(Rules(true, true)).Feed("\r").lines(), Lines{"COM3:"});
}

TEST(LineBufferTest, EmptyReadPutsThePrefixInAnEmptyLineOnlyOnce) {
  LineCollector collector(Rules(true, false));
  collector.Feed("");
  EXPECT_EQ(collector.pending(), "COM3:");
  collector.Feed("").Feed("X\r");
  EXPECT_EQ(collector.lines(), Lines{"COM3:X\r"});
}

TEST(LineBufferTest, LoneEndCharacterWithTruncateTypesNothing) {
  LineCollector collector(Rules(false, true));
  collector.Feed("\r");
  EXPECT_TRUE(collector.lines().empty());
  EXPECT_EQ(collector.pending(), "");
}

TEST(LineBufferTest, NulBytesAreKeptAndDoNotRestartThePrefix) {
  LineCollector collector(Rules(true, false));
  collector.Feed(std::string_view("\0", 1)).Feed("A\r");
  ASSERT_EQ(collector.lines().size(), 1u);
  EXPECT_EQ(collector.lines()[0], std::string("COM3:\0A\r", 8));
}

TEST(LineBufferTest, FullLineIsTypedAtCapacityWithEveryCharacter) {
  for (bool truncate : {false, true}) {
    LineCollector collector(Rules(false, truncate));
    collector.Feed(std::string(1022, 'x'));
    EXPECT_TRUE(collector.lines().empty());
    collector.Feed("y");
    ASSERT_EQ(collector.lines().size(), 1u) << "truncate " << truncate;
    // Truncation removes an end character, never a data character of a full line.
    EXPECT_EQ(collector.lines()[0], std::string(1022, 'x') + "y");
  }
}

TEST(LineBufferTest, ChunkPastCapacityStartsTheNextLineWithTheRest) {
  LineCollector collector(Rules(false, false));
  collector.Feed(std::string(1000, 'a'));
  collector.Feed(std::string(30, 'b') + std::string(70, 'c') + "\r");
  EXPECT_EQ(collector.lines(),
            (Lines{std::string(1000, 'a') + std::string(23, 'b'),
                   std::string(7, 'b') + std::string(70, 'c') + "\r"}));
}

TEST(LineBufferTest, ChunkPastCapacityWithPrefixAndTruncate) {
  LineCollector collector(Rules(true, true));
  const std::string data = std::string(2100, 'q') + "\r";
  collector.Feed(data);
  ASSERT_EQ(collector.lines().size(), 3u);
  EXPECT_EQ(collector.lines()[0], "COM3:" + std::string(1018, 'q'));
  EXPECT_EQ(collector.lines()[1], "COM3:" + std::string(1018, 'q'));
  EXPECT_EQ(collector.lines()[2], "COM3:" + std::string(64, 'q'));
}

// Under UTF-8 a full line is cut before a character it would split, which starts the next
// line whole; under other encodings, or where the bytes begin no character, at 1023.
TEST(LineBufferTest, UnderUtf8AFullLineIsCutBeforeACharacterItWouldSplit) {
  const std::string euro = "\xE2\x82\xAC";
  const std::string smile = "\xF0\x9F\x98\x80";
  const struct {
    const char* name;
    std::string sent;
    TextEncoding encoding;
    bool prefix;
    std::size_t first_length;  // received bytes in the first line
    bool broken = false;       // bytes that are no character were sent
  } cases[] = {
      {"one byte of three", std::string(1022, 'a') + euro, TextEncoding::kUtf8, false, 1022},
      {"two bytes of three", std::string(1021, 'a') + euro, TextEncoding::kUtf8, false, 1021},
      {"three bytes of four", std::string(1020, 'a') + smile, TextEncoding::kUtf8, false, 1020},
      {"after the port name", std::string(1015, 'a') + smile, TextEncoding::kUtf8, true, 1015},
      {"a whole character at the end", std::string(1020, 'a') + euro + "b", TextEncoding::kUtf8, false, 1023},
      {"bytes that begin no character", std::string(1021, 'a') + "\xE0\x80" + "b", TextEncoding::kUtf8, false, 1023,
       true},
      {"Latin-1", std::string(1022, 'a') + euro, TextEncoding::kLatin1, false, 1023},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CaptureOptions options{.prefix = c.prefix, .end_character = '\r', .encoding = c.encoding};
    LineBuffer buffer("COM3:");
    std::vector<std::string> lines;
    const std::string sent = c.sent + "\r";
    buffer.Append({reinterpret_cast<const uint8_t*>(sent.data()), sent.size()}, options, [&](const FinishedLine& line) {
      EXPECT_LE(line.text.size(), LineBuffer::kCapacity);
      if (!c.broken) {
        const std::u32string typed = ShapeLine(line, options).keys;
        EXPECT_EQ(typed.find(U'\xFFFD'), std::u32string::npos);
      }
      lines.emplace_back(line.text.begin() + static_cast<std::ptrdiff_t>(line.prefix_length), line.text.end());
    });
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], sent.substr(0, c.first_length));
    EXPECT_EQ(lines[1], sent.substr(c.first_length)) << "nothing lost or added";
  }
}

// A prefix as long as a line, or longer, still leaves room for one received character, so
// that every line ends up finished at the capacity with data in it.
TEST(LineBufferTest, PrefixIsCutToLeaveRoomForOneCharacter) {
  for (const std::size_t length : {LineBuffer::kCapacity - 1, LineBuffer::kCapacity, LineBuffer::kCapacity + 1,
                                   std::size_t{4000}}) {
    SCOPED_TRACE(length);
    const std::string prefix(length, '#');
    LineCollector collector(Rules(true, false), prefix);
    collector.Feed("AB");
    // Each received character fills a line.
    const std::string kept = prefix.substr(0, LineBuffer::kCapacity - 1);
    EXPECT_EQ(collector.lines(), (Lines{kept + "A", kept + "B"}));
    EXPECT_EQ(collector.pending(), "");
  }
}

// What is typed of a finished line: truncation takes off the end character that finished
// it, and nothing from a line cut because it was full.
TEST(ShapeLineTest, TruncationDropsOnlyAnEndCharacter) {
  const struct {
    std::string text;
    bool ended_by_end_character;
    bool truncate;
    std::string typed;
  } cases[] = {
      {"ABC\r", true, false, "ABC\r"}, {"ABC\r", true, true, "ABC"},     {"\r", true, true, ""},
      {"\r", true, false, "\r"},        {"ABCD", false, true, "ABCD"},    {"ABCD", false, false, "ABCD"},
      {"COM3:\r", true, true, "COM3:"}, {"", false, true, ""},
  };
  for (const auto& c : cases) {
    const FinishedLine line{std::span(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size()),
                            c.ended_by_end_character};
    EXPECT_EQ(Latin1(ShapeLine(line, Rules(false, c.truncate)).keys), c.typed)
        << "\"" << c.text << "\" ended " << c.ended_by_end_character << " truncate " << c.truncate;
  }
}

// Against a simple model: with random chunks, nothing is lost, duplicated or reordered,
// no line exceeds the capacity, and a line ends only at an end character or full.
TEST(LineBufferTest, RandomChunksKeepEveryByteInOrder) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 200; ++round) {
    const uint8_t end = static_cast<uint8_t>(1 + random() % 31);
    LineCollector collector(Rules(false, false, end), "");
    std::string sent;
    const int chunks = 1 + static_cast<int>(random() % 40);
    for (int c = 0; c < chunks; ++c) {
      // Sometimes long stretches without an end character, to fill lines up.
      const unsigned end_odds = random() % 2 == 0 ? 8 : 4000;
      std::string chunk(random() % 1025, '\0');
      for (char& byte : chunk) byte = static_cast<char>(random() % end_odds == 0 ? end : random() % 256);
      sent += chunk;
      collector.Feed(chunk);
    }
    std::string received;
    for (const std::string& line : collector.lines()) {
      ASSERT_LE(line.size(), LineBuffer::kCapacity);
      received += line;
      // An end character always ends its line, and only a full line ends without one.
      const bool ended = static_cast<uint8_t>(line.back()) == end;
      ASSERT_TRUE(ended || line.size() == LineBuffer::kCapacity) << "round " << round;
      ASSERT_EQ(std::count(line.begin(), line.end() - 1, static_cast<char>(end)), 0) << "round " << round;
    }
    EXPECT_EQ(received + collector.pending(), sent) << "round " << round;
  }
}

}  // namespace
}  // namespace lintrel
