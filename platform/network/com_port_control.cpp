#include "platform/network/com_port_control.h"


namespace lintrel::platform::com_port {
namespace {

std::vector<uint8_t> BaudRatePayload(uint32_t rate) {
  return {kSetBaudRate, static_cast<uint8_t>(rate >> 24), static_cast<uint8_t>(rate >> 16),
          static_cast<uint8_t>(rate >> 8), static_cast<uint8_t>(rate)};
}

}  // namespace

std::vector<std::vector<uint8_t>> OpeningCommands(const LineParameters& parameters) {
  std::vector<std::vector<uint8_t>> commands;
  if (parameters.baud_rate) commands.push_back(BaudRatePayload(*parameters.baud_rate));
  commands.push_back({kSetDataSize, static_cast<uint8_t>(parameters.data_bits)});
  // The parities are numbered as the Windows DCB numbers them, one below the codes here.
  commands.push_back({kSetParity, static_cast<uint8_t>(parameters.parity + 1)});
  commands.push_back({kSetStopSize, static_cast<uint8_t>(parameters.two_stop_bits ? 2 : 1)});
  commands.push_back({kSetControl, kControlNoFlowControl});
  commands.push_back({kSetControl, kControlDtrOn});
  commands.push_back({kSetControl, kControlRtsOn});
  commands.push_back({kSetLineStateMask, 0});
  commands.push_back({kSetModemStateMask, static_cast<uint8_t>(kModemCarrierDetect | kModemCarrierDetectChanged)});
  return commands;
}

std::optional<CarrierNotice> CarrierOf(std::span<const uint8_t> payload) {
  if (payload.size() != 2 || payload[0] != kNotifyModemState + kServerOffset) return std::nullopt;
  return CarrierNotice{.present = (payload[1] & kModemCarrierDetect) != 0,
                       .changed = (payload[1] & kModemCarrierDetectChanged) != 0};
}

std::optional<bool> CarrierTracker::Take(const CarrierNotice& notice) {
  const bool changed = level_ && *level_ != notice.present;
  level_ = notice.present;
  if (!changed) return std::nullopt;
  return notice.present;
}

}  // namespace lintrel::platform::com_port
