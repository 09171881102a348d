#pragma once

#include <string>

namespace lintrel {

// The user's choice of serial line: the port name and four list positions. The positions
// index the fixed lists of baud rates, parities, data bits and stop bits; -1 means
// "nothing selected". What they mean on the wire is decided when a port is opened.
//
// Stored positions are kept as they are, even outside their lists, so that a save writes
// back what it did not change; a port is opened with the default of a list whose position
// is outside it.
struct LineSettings {
  static constexpr const char* kDefaultPortName = "COM1";
  static constexpr int kDefaultBaudIndex = 1;     // 1200 baud
  static constexpr int kDefaultParityIndex = 0;   // none
  static constexpr int kDefaultDataBitIndex = 1;  // 8 data bits
  static constexpr int kDefaultStopBitIndex = 0;  // 1 stop bit

  // How many positions each list has.
  static constexpr int kBaudListSize = 11;
  static constexpr int kParityListSize = 5;
  static constexpr int kDataBitListSize = 2;
  static constexpr int kStopBitListSize = 2;

  std::string port_name = kDefaultPortName;
  int baud_index = kDefaultBaudIndex;
  int parity_index = kDefaultParityIndex;
  int data_bit_index = kDefaultDataBitIndex;
  int stop_bit_index = kDefaultStopBitIndex;

  bool operator==(const LineSettings&) const = default;
};

constexpr bool IsListPosition(int position, int list_size) { return position >= 0 && position < list_size; }

}  // namespace lintrel
