#pragma once

#include <atomic>
#include <cstdint>

#include "settings/text_encoding.h"

namespace lintrel {

// How received lines are typed and how lost links are retried. Held in memory only: every
// start begins with the defaults.
struct CaptureOptions {
  static constexpr int kMinReconnectDelayMs = 500;
  static constexpr int kMaxReconnectDelayMs = 5000;
  static constexpr int kDefaultReconnectDelayMs = 1000;
  static constexpr uint8_t kDefaultEndCharacter = 13;  // carriage return

  bool prefix = false;    // "ComInfo display": each line begins with "COMn:"
  bool truncate = false;  // "Truncate End Char.": the end character of a line is not typed
  uint8_t end_character = kDefaultEndCharacter;  // a control character 0x01..0x1F
  // How a line's bytes are read as characters; the front end sets the platform's default.
  TextEncoding encoding = TextEncoding::kAnsi;
  int32_t reconnect_delay_ms = kDefaultReconnectDelayMs;

  bool operator==(const CaptureOptions&) const = default;
};

// The capture options in force, replaced whole: a reader takes one snapshot per chunk, so
// every chunk is handled under one set of options, never under half of an Options
// dialog's OK.
//
// It also holds the system's code page for the "ansi" encoding, set once before any reader
// starts (Windows-1252 until then).
//
// Thread contract: Publish() on the UI thread; Load() from any thread, lock-free;
// SetAnsiCodePage() before the first reader starts, ansi_code_page() from any thread.
class SharedCaptureOptions {
 public:
  SharedCaptureOptions() = default;
  explicit SharedCaptureOptions(const CaptureOptions& initial) : current_(initial) {}
  SharedCaptureOptions(const SharedCaptureOptions&) = delete;
  SharedCaptureOptions& operator=(const SharedCaptureOptions&) = delete;

  CaptureOptions Load() const { return current_.load(); }
  void Publish(const CaptureOptions& options) { current_.store(options); }

  // Null: Windows-1252.
  const CodePage* ansi_code_page() const { return ansi_code_page_; }
  void SetAnsiCodePage(const CodePage* code_page) { ansi_code_page_ = code_page; }

 private:
  static_assert(std::atomic<CaptureOptions>::is_always_lock_free);
  std::atomic<CaptureOptions> current_{CaptureOptions{}};
  const CodePage* ansi_code_page_ = nullptr;
};

}  // namespace lintrel
