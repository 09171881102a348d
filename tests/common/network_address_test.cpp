#include "common/network_address.h"

#include <gtest/gtest.h>

namespace lintrel {
namespace {

struct AddressCase {
  const char* text;
  std::optional<NetworkAddress> address;
  const char* error_or_text;  // the error when refused, else Text()
};

TEST(NetworkAddressTest, ParsesWhatUsersWriteAndRefusesTheRestWithTheReason) {
  using enum NetworkProtocol;
  const AddressCase cases[] = {
      {"rfc2217://scale:4001", NetworkAddress{kRfc2217, "scale", 4001}, "rfc2217://scale:4001"},
      {"RFC2217://Scale.lab-1.example:65535", NetworkAddress{kRfc2217, "Scale.lab-1.example", 65535},
       "rfc2217://Scale.lab-1.example:65535"},
      {"tcp://192.168.7.20:23", NetworkAddress{kTcp, "192.168.7.20", 23}, "tcp://192.168.7.20:23"},
      {"tcp://[fe80::1]:4001", NetworkAddress{kTcp, "fe80::1", 4001}, "tcp://[fe80::1]:4001"},
      {"tcp://scale", std::nullopt, "tcp://scale: no port number after the host (HOST:PORT)"},
      {"tcp://:4001", std::nullopt, "tcp://:4001: no host before the port number (HOST:PORT)"},
      {"tcp://scale:0", std::nullopt, "tcp://scale:0: \"0\" is not a port number from 1 to 65535"},
      {"tcp://scale:65536", std::nullopt, "tcp://scale:65536: \"65536\" is not a port number from 1 to 65535"},
      {"tcp://scale:40/x", std::nullopt, "tcp://scale:40/x: \"40/x\" is not a port number from 1 to 65535"},
      {"tcp://fe80::1:4001", std::nullopt,
       "tcp://fe80::1:4001: an IPv6 address goes in brackets ([fe80::1]:4001)"},
      {"tcp://sc ale:1", std::nullopt,
       "tcp://sc ale:1: \"sc ale\" is not a host name or address (an IPv6 address goes in brackets)"},
      {"tcp://[fe80::1:4001", std::nullopt, "tcp://[fe80::1:4001: an IPv6 address lacks its closing ']'"},
      {"tcp://a\nlintrel COM1 connected:1", std::nullopt,  // a line break forges no status line
       "tcp://a\\nlintrel COM1 connected:1: \"a\\nlintrel COM1 connected\" is not a host name or address (an IPv6 "
       "address goes in brackets)"},
      {"telnet://scale:23", std::nullopt, "telnet://scale:23: \"telnet\" is not a kind of network port (rfc2217 or tcp)"},
  };
  for (const AddressCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    const std::optional<NetworkAddress> parsed = ParseNetworkAddress(c.text, &error);
    EXPECT_EQ(parsed, c.address);
    EXPECT_EQ(parsed ? parsed->Text() : error, c.error_or_text);
  }
}

TEST(NetworkAddressTest, OnlyASchemeBeforeSlashesMakesANetworkAddress) {
  EXPECT_TRUE(IsNetworkAddressText("tcp://x"));
  EXPECT_TRUE(IsNetworkAddressText("ftp://x"));  // refused by the parser, never opened as a file
  EXPECT_FALSE(IsNetworkAddressText("/dev/ttyUSB0"));
  EXPECT_FALSE(IsNetworkAddressText("\\\\.\\COM3"));
  EXPECT_FALSE(IsNetworkAddressText("://x"));
  EXPECT_FALSE(IsNetworkAddressText("/tmp/a://b"));
}

}  // namespace
}  // namespace lintrel
