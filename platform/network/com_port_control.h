#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/serial_port.h"

namespace lintrel::platform::com_port {

// The COM Port Control option of Telnet (RFC 2217): the subnegotiations by which a client
// sets the line of the serial port behind a device server and hears of its modem lines.
// Each is IAC SB 44 <command> <value> IAC SE; the server answers a client's command with
// the command number plus 100 and the value in force. Pure byte work, no sockets.

inline constexpr uint8_t kSetBaudRate = 1;        // 4 bytes, network order; 0 asks
inline constexpr uint8_t kSetDataSize = 2;        // 5..8; 0 asks
inline constexpr uint8_t kSetParity = 3;          // 1 none, 2 odd, 3 even, 4 mark, 5 space
inline constexpr uint8_t kSetStopSize = 4;        // 1 one, 2 two, 3 one and a half
inline constexpr uint8_t kSetControl = 5;         // flow control, break, DTR and RTS
inline constexpr uint8_t kNotifyModemState = 7;   // the server's notice of the modem lines
inline constexpr uint8_t kSetLineStateMask = 10;
inline constexpr uint8_t kSetModemStateMask = 11;
inline constexpr uint8_t kServerOffset = 100;     // added to a command in the server's answers

// SET-CONTROL values.
inline constexpr uint8_t kControlNoFlowControl = 1;
inline constexpr uint8_t kControlDtrOn = 8;
inline constexpr uint8_t kControlRtsOn = 11;

// Bits of the modem state.
inline constexpr uint8_t kModemCarrierDetect = 0x80;
inline constexpr uint8_t kModemCarrierDetectChanged = 0x08;

// The payloads (command and value) that set a port up as a local port is opened: the line
// settings of `parameters` (the baud rate only when it sets one), no flow control, DTR and
// RTS on, notices of the carrier detect line alone and none of the line state.
std::vector<std::vector<uint8_t>> OpeningCommands(const LineParameters& parameters);

// What a server's notice says of the carrier, as a local port's wait reports it.
struct CarrierNotice {
  bool present = false;
  bool changed = false;  // the notice marks a change of the line since the last one
};

// The carrier in a subnegotiation of the server's, or nullopt when it is no modem-state
// notice.
std::optional<CarrierNotice> CarrierOf(std::span<const uint8_t> payload);

// Follows the carrier through the server's notices and says when it changed: when a notice's
// level differs from the one before; the first notice only tells the level. The change mark
// is not trusted: servers (ser2net among them) mark every line as changed in the notices
// that answer a new mask, which would make each connection a lost link at once. A drop and
// return that one notice reports as a mark alone is thus missed, as a local port misses a
// blip shorter than its wait.
class CarrierTracker {
 public:
  // The new level when the notice is a change; nullopt otherwise.
  std::optional<bool> Take(const CarrierNotice& notice);
  std::optional<bool> level() const { return level_; }

 private:
  std::optional<bool> level_;
};

}  // namespace lintrel::platform::com_port
