#include "common/network_address.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "common/printable_text.h"

namespace lintrel {
namespace {

constexpr std::string_view kSchemeEnd = "://";

struct Scheme {
  std::string_view name;
  NetworkProtocol protocol;
};
constexpr std::array<Scheme, 2> kSchemes = {{{"rfc2217", NetworkProtocol::kRfc2217}, {"tcp", NetworkProtocol::kTcp}}};

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

bool IsHostNameCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_' || c == '.';
}

bool IsIpv6Character(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
}

std::optional<uint16_t> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

bool Fail(std::string* error, std::string_view text, const std::string& problem) {
  // The text is the user's: a line break in it must not start a line of its own.
  if (error != nullptr) *error = EscapeControlCharacters(text) + ": " + problem;
  return false;
}

// Splits "HOST:PORT" or "[IPV6]:PORT" into its host and its port text.
bool SplitHostAndPort(std::string_view whole, std::string_view rest, std::string_view* host, std::string_view* port,
                      std::string* error) {
  std::size_t colon = 0;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return Fail(error, whole, "an IPv6 address lacks its closing ']'");
    *host = rest.substr(1, close - 1);
    if (host->empty() || !std::all_of(host->begin(), host->end(), IsIpv6Character)) {
      return Fail(error, whole, Quoted(*host) + " is not an IPv6 address");
    }
    if (close + 1 >= rest.size() || rest[close + 1] != ':') {
      return Fail(error, whole, "no port number after the host (HOST:PORT)");
    }
    colon = close + 1;
  } else {
    colon = rest.find(':');
    if (colon == std::string_view::npos) return Fail(error, whole, "no port number after the host (HOST:PORT)");
    if (rest.find(':', colon + 1) != std::string_view::npos) {
      return Fail(error, whole, "an IPv6 address goes in brackets ([fe80::1]:4001)");
    }
    *host = rest.substr(0, colon);
    if (host->empty()) return Fail(error, whole, "no host before the port number (HOST:PORT)");
    if (!std::all_of(host->begin(), host->end(), IsHostNameCharacter)) {
      return Fail(error, whole,
                  Quoted(*host) + " is not a host name or address (an IPv6 address goes in brackets)");
    }
  }
  *port = rest.substr(colon + 1);
  return true;
}

}  // namespace

std::string NetworkAddress::HostAndPort() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string NetworkAddress::Text() const {
  return std::string(protocol == NetworkProtocol::kRfc2217 ? "rfc2217" : "tcp") + std::string(kSchemeEnd) +
         HostAndPort();
}

bool IsNetworkAddressText(std::string_view text) {
  const std::size_t end = text.find(kSchemeEnd);
  if (end == std::string_view::npos || end == 0) return false;
  return std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

std::optional<NetworkAddress> ParseNetworkAddress(std::string_view text, std::string* error) {
  const std::size_t scheme_end = text.find(kSchemeEnd);
  if (!IsNetworkAddressText(text)) {
    Fail(error, text, "not a network address (rfc2217://HOST:PORT or tcp://HOST:PORT)");
    return std::nullopt;
  }
  const std::string scheme = Lower(text.substr(0, scheme_end));
  const auto known = std::find_if(kSchemes.begin(), kSchemes.end(), [&](const Scheme& s) { return s.name == scheme; });
  if (known == kSchemes.end()) {
    Fail(error, text, Quoted(scheme) + " is not a kind of network port (rfc2217 or tcp)");
    return std::nullopt;
  }
  std::string_view host;
  std::string_view port_text;
  if (!SplitHostAndPort(text, text.substr(scheme_end + kSchemeEnd.size()), &host, &port_text, error)) {
    return std::nullopt;
  }
  const std::optional<uint16_t> port = ParsePort(port_text);
  if (!port) {
    Fail(error, text, Quoted(port_text) + " is not a port number from 1 to 65535");
    return std::nullopt;
  }
  return NetworkAddress{.protocol = known->protocol, .host = std::string(host), .port = *port};
}

}  // namespace lintrel
