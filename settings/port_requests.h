#pragma once

#include <string>

namespace lintrel {

// What a port sends to its device: a text once each time the port is opened, and a poll on
// a timer for devices that send a reading only when asked (a scale's "P<CR>"). The texts are
// characters (UTF-8), turned into bytes by the port's encoding when sent.
struct PortRequests {
  static constexpr int kMinPollEveryMs = 100;
  static constexpr int kMaxPollEveryMs = 3'600'000;
  static constexpr int kMinReplyTimeoutMs = 100;
  static constexpr int kMaxReplyTimeoutMs = 3'600'000;

  std::string send_on_connect{};  // empty: nothing is sent on connect
  std::string poll{};             // empty: the port is not polled
  int poll_every_ms = 0;          // 0: no polls on a timer ("Send now" still sends `poll`)
  int reply_timeout_ms = 0;       // 0: a poll without a reply is not reported

  // Whether anything is ever sent, which is what opens the port for writing.
  bool SendsAnything() const { return !send_on_connect.empty() || !poll.empty(); }
  bool PollsOnTimer() const { return !poll.empty() && poll_every_ms > 0; }

  bool operator==(const PortRequests&) const = default;
};

}  // namespace lintrel
