#include "capture/line_parameters.h"

#include <algorithm>

namespace lintrel {
namespace {

static_assert(kBaudRates.size() == LineSettings::kBaudListSize);
static_assert(platform::kParitySpace == LineSettings::kParityListSize - 1);

int PositionOrDefault(int position, int list_size, int default_position) {
  return IsListPosition(position, list_size) ? position : default_position;
}

}  // namespace

platform::LineParameters LineParametersFromSettings(const LineSettings& settings) {
  const int baud =
      PositionOrDefault(settings.baud_index, LineSettings::kBaudListSize, LineSettings::kDefaultBaudIndex);
  const int parity =
      PositionOrDefault(settings.parity_index, LineSettings::kParityListSize, LineSettings::kDefaultParityIndex);
  const int data_bits = PositionOrDefault(settings.data_bit_index, LineSettings::kDataBitListSize,
                                          LineSettings::kDefaultDataBitIndex);
  const int stop_bits = PositionOrDefault(settings.stop_bit_index, LineSettings::kStopBitListSize,
                                          LineSettings::kDefaultStopBitIndex);
  platform::LineParameters parameters;
  parameters.baud_rate = kBaudRates[static_cast<std::size_t>(baud)];
  parameters.data_bits = data_bits + 7;
  parameters.parity = parity;
  parameters.two_stop_bits = stop_bits != 0;
  return parameters;
}

std::optional<int> BaudIndexForRate(uint32_t rate) {
  const auto* found = std::find(kBaudRates.begin(), kBaudRates.end(), rate);
  if (found == kBaudRates.end()) return std::nullopt;
  return static_cast<int>(found - kBaudRates.begin());
}

}  // namespace lintrel
