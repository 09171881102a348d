#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "common/port_number.h"
#include "settings/record_rules.h"
#include "settings/shaping_rules.h"
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

// A port's own capture options: each one it sets stands for that port in place of the
// options in force for every port; its shaping rules are its own.
struct PortCaptureRules {
  std::optional<uint8_t> end_character{};
  std::optional<bool> truncate{};
  std::optional<bool> prefix{};
  ShapingRules shaping{};
  RecordRules records{};
  std::optional<TextEncoding> encoding{};
  std::optional<int32_t> reconnect_delay_ms{};

  // `options` with what this port sets put in.
  CaptureOptions Over(CaptureOptions options) const {
    if (end_character) options.end_character = *end_character;
    if (truncate) options.truncate = *truncate;
    if (prefix) options.prefix = *prefix;
    if (encoding) options.encoding = *encoding;
    if (reconnect_delay_ms) options.reconnect_delay_ms = *reconnect_delay_ms;
    return options;
  }

  bool operator==(const PortCaptureRules&) const = default;
};

// What a reader works with for one chunk: the options in force for its port and the port's
// shaping rules.
struct PortCaptureSnapshot {
  CaptureOptions options;
  std::shared_ptr<const PortCaptureRules> own{};  // null: the port has none of its own

  const ShapingRules& shaping() const {
    static const ShapingRules kNone;
    return own ? own->shaping : kNone;
  }
};

// The capture options in force, replaced whole: a reader takes one snapshot per chunk, so
// every chunk is handled under one set of options, never under half of an Options
// dialog's OK. Each port may have rules of its own, replaced whole the same way.
//
// It also holds the system's code page for the "ansi" encoding, set once before any reader
// starts (Windows-1252 until then).
//
// Thread contract: Publish() and PublishPortRules() on the UI thread; Load() and LoadFor()
// from any thread (Load() lock-free); SetAnsiCodePage() before the first reader starts,
// ansi_code_page() from any thread.
class SharedCaptureOptions {
 public:
  SharedCaptureOptions() = default;
  explicit SharedCaptureOptions(const CaptureOptions& initial) : current_(initial) {}
  SharedCaptureOptions(const SharedCaptureOptions&) = delete;
  SharedCaptureOptions& operator=(const SharedCaptureOptions&) = delete;

  CaptureOptions Load() const { return current_.load(); }
  void Publish(const CaptureOptions& options) { current_.store(options); }

  // Null removes the port's own rules. A port number outside the table is ignored.
  void PublishPortRules(int port_number, std::shared_ptr<const PortCaptureRules> rules) {
    if (IsPortNumber(port_number)) port_rules_[Slot(port_number)].store(std::move(rules));
  }
  std::shared_ptr<const PortCaptureRules> PortRules(int port_number) const {
    if (!IsPortNumber(port_number)) return nullptr;
    return port_rules_[Slot(port_number)].load();
  }
  PortCaptureSnapshot LoadFor(int port_number) const {
    std::shared_ptr<const PortCaptureRules> own = PortRules(port_number);
    const CaptureOptions options = own ? own->Over(Load()) : Load();
    return {options, std::move(own)};
  }
  // Null: Windows-1252.
  const CodePage* ansi_code_page() const { return ansi_code_page_; }
  void SetAnsiCodePage(const CodePage* code_page) { ansi_code_page_ = code_page; }

 private:
  static std::size_t Slot(int port_number) { return static_cast<std::size_t>(port_number - kLowestPortNumber); }

  static_assert(std::atomic<CaptureOptions>::is_always_lock_free);
  std::atomic<CaptureOptions> current_{CaptureOptions{}};
  std::array<std::atomic<std::shared_ptr<const PortCaptureRules>>, kPortNumberCount> port_rules_{};
  const CodePage* ansi_code_page_ = nullptr;
};

}  // namespace lintrel
