#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lintrel {

// How a port reaches a serial device that sits behind a device server on the network.
enum class NetworkProtocol {
  kRfc2217,  // Telnet with COM Port Control: the line settings are set on the server
  kTcp,      // raw TCP: the bytes as they are, the line settings are the server's own
};

// A network port's address as the user writes it where a device path goes:
// "rfc2217://HOST:PORT" or "tcp://HOST:PORT".
struct NetworkAddress {
  NetworkProtocol protocol = NetworkProtocol::kTcp;
  std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
  uint16_t port = 0;  // 1..65535

  // The address written back: the scheme in lower case, an IPv6 host in brackets.
  std::string Text() const;
  // "HOST:PORT", an IPv6 host in brackets, for messages.
  std::string HostAndPort() const;

  bool operator==(const NetworkAddress&) const = default;
};

// Whether `text` is meant as a network address (it starts with a scheme and "://"), as
// opposed to a device path: such a text is parsed as one and refused when it is wrong,
// never opened as a file.
bool IsNetworkAddressText(std::string_view text);

// The address `text` names, or nullopt and *error saying what is wrong ("rfc2217://scale:
// no port number after the host (HOST:PORT)"). The scheme is read in any case; the host is
// a name of letters, digits, '-', '_' and '.', an IPv4 address, or an IPv6 address in
// brackets; nothing may follow the port number.
std::optional<NetworkAddress> ParseNetworkAddress(std::string_view text, std::string* error);

}  // namespace lintrel
