#pragma once

#include <atomic>
#include <cstdint>

namespace lintrel {

// How received lines are typed and how lost links are retried. Held in memory only:
// every start begins with the defaults.
//
// Thread contract: written by the UI thread only; reader threads and the link supervisor
// read each value afresh on every serial event or tick, so a change takes effect at the
// next chunk.
struct CaptureOptions {
  static constexpr int kMinReconnectDelayMs = 500;
  static constexpr int kMaxReconnectDelayMs = 5000;
  static constexpr int kDefaultReconnectDelayMs = 1000;
  static constexpr int kDefaultEndCharacter = 13;  // carriage return

  std::atomic<int> prefix_flag{0};    // 1: each line begins with "COMn:"
  std::atomic<int> truncate_flag{0};  // 1: the end character of a line is not typed
  std::atomic<int> reconnect_delay_ms{kDefaultReconnectDelayMs};
  std::atomic<int> end_character{kDefaultEndCharacter};  // a control character 0x01..0x1F
};

}  // namespace lintrel
