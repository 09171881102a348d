#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/network/com_port_control.h"
#include "platform/network/telnet.h"
#include "platform/serial_port.h"

namespace lintrel::platform {

// What one run of received bytes meant for the port.
struct SessionInput {
  std::vector<uint8_t> data;            // the device's bytes, escapes undone
  std::vector<uint8_t> answer;          // to send back to the server at once
  std::optional<bool> carrier_change;   // the carrier changed to this level
  std::string failure;                  // the session cannot go on; empty while it can
};

// The client side of an RFC 2217 connection: Telnet negotiation, the line settings set on
// the server as soon as it takes COM Port Control, the carrier followed through its notices,
// and the device's bytes escaped and unescaped. Pure byte work; the socket is the caller's.
class Rfc2217Session {
 public:
  explicit Rfc2217Session(const LineParameters& parameters) : parameters_(parameters) {}

  // The requests that open the connection.
  std::vector<uint8_t> Open() { return negotiation_.Open(); }
  SessionInput Receive(std::span<const uint8_t> bytes);
  // The bytes that carry `data` to the device.
  std::vector<uint8_t> EncodeData(std::span<const uint8_t> data) const;

  // Whether the server has taken COM Port Control and been sent the line settings.
  bool settings_sent() const { return settings_sent_; }

 private:
  std::vector<uint8_t> SettingCommands() const;

  LineParameters parameters_;
  telnet::Decoder decoder_;
  telnet::Negotiation negotiation_;
  com_port::CarrierTracker carrier_;
  bool settings_sent_ = false;
};

}  // namespace lintrel::platform
