#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace lintrel::platform::telnet {

// The Telnet protocol (RFC 854), its option negotiation (RFC 855, with the loop-free rules of
// RFC 1143) and the options a serial-port client uses: binary transmission (RFC 856) and
// suppress go-ahead (RFC 858). Pure byte work, no sockets.

inline constexpr uint8_t kIac = 255;   // "interpret as command": starts every command
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;    // subnegotiation begins
inline constexpr uint8_t kSe = 240;    // subnegotiation ends

inline constexpr uint8_t kOptionBinary = 0;
inline constexpr uint8_t kOptionEcho = 1;
inline constexpr uint8_t kOptionSuppressGoAhead = 3;
inline constexpr uint8_t kOptionComPort = 44;  // COM Port Control (RFC 2217)

struct Command {
  uint8_t verb = 0;    // kWill, kWont, kDo or kDont
  uint8_t option = 0;
  bool operator==(const Command&) const = default;
};

struct Subnegotiation {
  uint8_t option = 0;
  std::vector<uint8_t> payload;  // IAC IAC inside it already read as one 255
  bool operator==(const Subnegotiation&) const = default;
};

// What one run of received bytes held, in the order of each kind.
struct Received {
  std::vector<uint8_t> data;
  std::vector<Command> commands;
  std::vector<Subnegotiation> subnegotiations;
};

// Splits the received stream into data, option commands and subnegotiations. Commands and
// subnegotiations may be cut anywhere between two reads: the decoder keeps its place.
class Decoder {
 public:
  // The most a subnegotiation holds; a longer one is dropped whole (no option of ours
  // sends more than a few bytes).
  static constexpr std::size_t kMaxSubnegotiation = 256;

  void Feed(std::span<const uint8_t> bytes, Received* received);
  // Whether the peer sends in binary: until it does, a carriage return comes as CR NUL (or
  // CR LF), and the NUL is no data.
  void SetBinary(bool binary) { binary_ = binary; }

 private:
  enum class State { kData, kCarriageReturn, kCommand, kVerb, kSubOption, kSubData, kSubCommand };
  void TakeData(uint8_t byte, Received* received);
  void TakeSubnegotiationByte(uint8_t byte, Received* received);

  State state_ = State::kData;
  bool binary_ = false;
  uint8_t verb_ = 0;
  bool sub_too_long_ = false;
  Subnegotiation sub_;
};

// The bytes that send `data`: every 255 doubled, and, while we do not send in binary, a
// carriage return followed by NUL as the protocol asks (RFC 854).
std::vector<uint8_t> EscapeData(std::span<const uint8_t> data, bool binary);
std::vector<uint8_t> CommandBytes(uint8_t verb, uint8_t option);
// IAC SB option payload IAC SE, every 255 of the payload doubled.
std::vector<uint8_t> SubnegotiationBytes(uint8_t option, std::span<const uint8_t> payload);

// Which options are in effect on each side of the connection, and the answers that keep both
// sides agreed. We offer and accept binary transmission both ways, COM Port Control on our
// side and suppress go-ahead on the peer's; every other option is refused, echo included (a
// device server that echoed would send our requests back as readings). An answer is sent only
// when a side's state changes, so two parties never loop (RFC 1143).
class Negotiation {
 public:
  enum class Side { kUs, kPeer };

  // The requests that open the connection.
  std::vector<uint8_t> Open();
  // The answer to a command of the peer's (possibly nothing).
  std::vector<uint8_t> Answer(const Command& command);

  bool Enabled(Side side, uint8_t option) const { return State(side, option) == OptionState::kYes; }
  // Whether the peer has refused an option we asked it to let us use.
  bool Refused(Side side, uint8_t option) const { return refused_[Index(side, option)]; }

 private:
  enum class OptionState : uint8_t { kNo, kYes, kWantYes };
  static std::size_t Index(Side side, uint8_t option) { return (side == Side::kUs ? 0 : 256) + option; }
  OptionState& State(Side side, uint8_t option) { return states_[Index(side, option)]; }
  OptionState State(Side side, uint8_t option) const { return states_[Index(side, option)]; }
  static bool Accepts(Side side, uint8_t option);
  std::vector<uint8_t> Ask(Side side, uint8_t option);
  std::vector<uint8_t> Offered(Side side, uint8_t option);   // the peer's WILL or DO
  std::vector<uint8_t> Withdrawn(Side side, uint8_t option); // the peer's WONT or DONT

  std::array<OptionState, 512> states_{};
  std::array<bool, 512> refused_{};
};

}  // namespace lintrel::platform::telnet
