#include "capture/line_parameters.h"

#include <algorithm>

namespace lintrel {

platform::LineParameters LineParametersFromSettings(const LineSettings& settings) {
  platform::LineParameters parameters;
  if (settings.baud_index >= 0 && settings.baud_index < static_cast<int>(kBaudRates.size())) {
    parameters.baud_rate = kBaudRates[static_cast<std::size_t>(settings.baud_index)];
  }
  parameters.data_bits = settings.data_bit_index + 7;
  parameters.parity = settings.parity_index;
  parameters.two_stop_bits = settings.stop_bit_index != 0;
  return parameters;
}

std::optional<int> BaudIndexForRate(uint32_t rate) {
  const auto* found = std::find(kBaudRates.begin(), kBaudRates.end(), rate);
  if (found == kBaudRates.end()) return std::nullopt;
  return static_cast<int>(found - kBaudRates.begin());
}

}  // namespace lintrel
