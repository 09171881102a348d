#include "platform/trace_keyboard.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

std::vector<KeyEvent> PressAndRelease(uint8_t key_code) { return {{key_code, true}, {key_code, false}}; }

TEST(TraceKeyboardTest, WritesEachKeyEventAsTwoUpperCaseHexDigits) {
  for (const uint8_t key_code : {0x00, 0x05, 0x0D, 0x10, 0x41, 0xBF, 0xFF}) {
    SCOPED_TRACE(static_cast<int>(key_code));
    MemoryStream stream;
    ASSERT_NE(stream.file(), nullptr);
    char expected[32];
    std::snprintf(expected, sizeof expected, "down 0x%02X\nup 0x%02X\n", key_code, key_code);
    const KeyOutputResult result = TraceKeyboard(stream.file()).TypeKeys(PressAndRelease(key_code));
    EXPECT_EQ(stream.Delivered(), expected);
    EXPECT_EQ(result.accepted, 2u);
    EXPECT_EQ(result.error, "");
  }
}

TEST(TraceKeyboardTest, EachLineIsDeliveredWholeAndAnEmptyOneWritesNothing) {
  MemoryStream stream;
  ASSERT_NE(stream.file(), nullptr);
  TraceKeyboard keyboard(stream.file());
  keyboard.TypeKeys({});
  EXPECT_EQ(stream.Delivered(), "");
  keyboard.TypeKeys(PressAndRelease(0x41));
  EXPECT_EQ(stream.Delivered(), "down 0x41\nup 0x41\n");
  keyboard.TypeKeys(PressAndRelease(0x42));
  EXPECT_EQ(stream.Delivered(), "down 0x41\nup 0x41\ndown 0x42\nup 0x42\n");
}

TEST(TraceKeyboardTest, TracesALineTypedByTheKeystrokeSenderAndCharactersWithoutAKey) {
  MemoryStream stream;
  ASSERT_NE(stream.file(), nullptr);
  TraceKeyboard keyboard(stream.file());
  EXPECT_TRUE(KeystrokeSender(keyboard).TypeLine(U"Ab\r€").typed);
  EXPECT_EQ(stream.Delivered(),
            "down 0x10\ndown 0x41\nup 0x41\nup 0x10\n"
            "down 0x42\nup 0x42\n"
            "down 0x0D\nup 0x0D\n"
            "down U+20AC\nup U+20AC\n");
}

// A full device and a stream not open for writing: the output is lost, with the system's
// reason.
TEST(TraceKeyboardTest, AFailedWriteLosesTheOutputAndSaysWhy) {
  struct Case {
    const char* path;
    const char* mode;
    int error_number;
  };
  for (const Case& c : {Case{"/dev/full", "w", ENOSPC}, Case{"/dev/null", "r", EBADF}}) {
    SCOPED_TRACE(c.path);
    std::FILE* file = std::fopen(c.path, c.mode);
    ASSERT_NE(file, nullptr);
    const KeyOutputResult result = TraceKeyboard(file).TypeKeys(PressAndRelease(0x41));
    std::fclose(file);
    EXPECT_TRUE(result.output_lost);
    EXPECT_EQ(result.error, std::string("cannot write the key trace: ") + std::strerror(c.error_number));
  }
}

}  // namespace
}  // namespace lintrel::platform
