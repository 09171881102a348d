#pragma once

#include <chrono>
#include <optional>

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

// A port's own delays: each one it sets stands for that port in place of the one every port
// shares.
struct PortPacing {
  std::optional<std::chrono::milliseconds> key_delay{};
  std::optional<std::chrono::milliseconds> line_delay{};

  Pacing Over(Pacing shared) const {
    return {key_delay.value_or(shared.key_delay), line_delay.value_or(shared.line_delay)};
  }

  bool operator==(const PortPacing&) const = default;
};

}  // namespace lintrel
