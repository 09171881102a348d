#pragma once

#include <chrono>

namespace lintrel {

// Delays for receiving programs that cannot take keys at full speed (remote desktops, some
// browsers), and the longest each may be set to.
inline constexpr int kMaxKeyDelayMs = 1000;
inline constexpr int kMaxLineDelayMs = 10000;

struct Pacing {
  std::chrono::milliseconds key_delay{0};   // between two keys of a line
  std::chrono::milliseconds line_delay{0};  // after each line

  bool operator==(const Pacing&) const = default;
};

}  // namespace lintrel
