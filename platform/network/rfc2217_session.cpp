#include "platform/network/rfc2217_session.h"

namespace lintrel::platform {

using telnet::Negotiation;

SessionInput Rfc2217Session::Receive(std::span<const uint8_t> bytes) {
  telnet::Received received;
  decoder_.Feed(bytes, &received);
  SessionInput input;
  input.data = std::move(received.data);
  for (const telnet::Command& command : received.commands) {
    const std::vector<uint8_t> answer = negotiation_.Answer(command);
    input.answer.insert(input.answer.end(), answer.begin(), answer.end());
  }
  decoder_.SetBinary(negotiation_.Enabled(Negotiation::Side::kPeer, telnet::kOptionBinary));
  if (!settings_sent_ && negotiation_.Enabled(Negotiation::Side::kUs, telnet::kOptionComPort)) {
    const std::vector<uint8_t> settings = SettingCommands();
    input.answer.insert(input.answer.end(), settings.begin(), settings.end());
    settings_sent_ = true;
  }
  if (negotiation_.Refused(Negotiation::Side::kUs, telnet::kOptionComPort)) {
    input.failure = "the device server refuses RFC 2217 (COM Port Control); a raw TCP port is tcp://HOST:PORT";
  }
  for (const telnet::Subnegotiation& sub : received.subnegotiations) {
    if (sub.option != telnet::kOptionComPort) continue;
    const std::optional<com_port::CarrierNotice> notice = com_port::CarrierOf(sub.payload);
    if (!notice) continue;
    if (const std::optional<bool> changed = carrier_.Take(*notice)) input.carrier_change = changed;
  }
  return input;
}

std::vector<uint8_t> Rfc2217Session::SettingCommands() const {
  std::vector<uint8_t> bytes;
  for (const std::vector<uint8_t>& command : com_port::OpeningCommands(parameters_)) {
    const std::vector<uint8_t> sub = telnet::SubnegotiationBytes(telnet::kOptionComPort, command);
    bytes.insert(bytes.end(), sub.begin(), sub.end());
  }
  return bytes;
}

std::vector<uint8_t> Rfc2217Session::EncodeData(std::span<const uint8_t> data) const {
  return telnet::EscapeData(data, negotiation_.Enabled(Negotiation::Side::kUs, telnet::kOptionBinary));
}

}  // namespace lintrel::platform
