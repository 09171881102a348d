#include "platform/trace_keyboard.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture/keystroke_sender.h"

namespace lintrel::platform {
namespace {

// A FILE* whose contents become visible only when the stream is flushed, as with a pipe or
// a file read by another process.
class MemoryStream {
 public:
  MemoryStream() : file_(open_memstream(&data_, &size_)) {}
  ~MemoryStream() {
    if (file_ != nullptr) std::fclose(file_);
    std::free(data_);
  }
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;

  std::FILE* file() const { return file_; }
  // What has been flushed so far.
  std::string Delivered() const { return data_ == nullptr ? "" : std::string(data_, size_); }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

struct KeyLineCase {
  uint8_t key_code;
  const char* down;
  const char* up;
};

TEST(TraceKeyboardTest, WritesEachKeyEventAsTwoUpperCaseHexDigits) {
  const KeyLineCase cases[] = {
      {0x00, "down 0x00\n", "up 0x00\n"}, {0x05, "down 0x05\n", "up 0x05\n"},
      {0x0D, "down 0x0D\n", "up 0x0D\n"}, {0x10, "down 0x10\n", "up 0x10\n"},
      {0x41, "down 0x41\n", "up 0x41\n"}, {0xBF, "down 0xBF\n", "up 0xBF\n"},
      {0xFF, "down 0xFF\n", "up 0xFF\n"},
  };
  for (const KeyLineCase& c : cases) {
    SCOPED_TRACE(c.down);
    MemoryStream stream;
    ASSERT_NE(stream.file(), nullptr);
    TraceKeyboard keyboard(stream.file());
    keyboard.KeyDown(c.key_code);
    keyboard.KeyUp(c.key_code);
    keyboard.EndLine();
    EXPECT_EQ(stream.Delivered(), std::string(c.down) + c.up);
  }
}

TEST(TraceKeyboardTest, EndLineDeliversTheBufferedEvents) {
  MemoryStream stream;
  ASSERT_NE(stream.file(), nullptr);
  TraceKeyboard keyboard(stream.file());
  keyboard.KeyDown(0x41);
  keyboard.KeyUp(0x41);
  EXPECT_EQ(stream.Delivered(), "");
  keyboard.EndLine();
  EXPECT_EQ(stream.Delivered(), "down 0x41\nup 0x41\n");
  keyboard.KeyDown(0x42);
  keyboard.EndLine();
  EXPECT_EQ(stream.Delivered(), "down 0x41\nup 0x41\ndown 0x42\n");
}

TEST(TraceKeyboardTest, EndLineAloneWritesNothing) {
  MemoryStream stream;
  ASSERT_NE(stream.file(), nullptr);
  TraceKeyboard keyboard(stream.file());
  keyboard.EndLine();
  EXPECT_EQ(stream.Delivered(), "");
}

TEST(TraceKeyboardTest, MapsThroughTheUsLayoutWithVirtualKeyShift) {
  MemoryStream stream;
  ASSERT_NE(stream.file(), nullptr);
  TraceKeyboard keyboard(stream.file());
  EXPECT_EQ(keyboard.ShiftKey(), 0x10);
  EXPECT_EQ(keyboard.Map('A').key_code, 0x41);
  EXPECT_EQ(keyboard.Map('A').shift_state, kShiftStateShift);
  EXPECT_EQ(keyboard.Map('\r').key_code, 0x0D);
  EXPECT_EQ(keyboard.Map('\r').shift_state, 0);
  EXPECT_EQ(keyboard.Map(0xC4).key_code, kNoKey);
  EXPECT_EQ(keyboard.Map(0xC4).shift_state, kNoKey);
}

TEST(TraceKeyboardTest, TracesALineTypedByTheKeystrokeSender) {
  MemoryStream stream;
  ASSERT_NE(stream.file(), nullptr);
  TraceKeyboard keyboard(stream.file());
  KeystrokeSender sender(keyboard);
  const uint8_t line[] = {'A', 'b', '\r'};
  sender.TypeLine(1, line);
  EXPECT_EQ(stream.Delivered(),
            "down 0x10\ndown 0x41\nup 0x41\nup 0x10\n"
            "down 0x42\nup 0x42\n"
            "down 0x0D\nup 0x0D\n");
}

}  // namespace
}  // namespace lintrel::platform
