#include "common/port_number.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lintrel {
namespace {

TEST(PortNumberTest, NamesFollowOneRule) {
  const std::vector<std::pair<std::string, std::optional<int>>> cases = {
      // "COM" in any case, then the number without leading zeros.
      {"COM0", 0}, {"COM5", 5}, {"com5", 5}, {"cOm12", 12}, {"COM200", 200}, {"COM256", 256},
      // Leading zeros, however many: one spelling per port.
      {"COM05", std::nullopt}, {"COM005", std::nullopt}, {"COM0005", std::nullopt}, {"COM00", std::nullopt},
      // Signs, blanks and anything after the digits.
      {"COM-0", std::nullopt}, {"COM+5", std::nullopt}, {"COM-3", std::nullopt}, {"COM 5", std::nullopt},
      {"COM5 ", std::nullopt}, {"COM5:", std::nullopt}, {"COM3 (USB)", std::nullopt}, {"COM5x", std::nullopt},
      // Out of range, or too long to be a port number at all.
      {"COM257", std::nullopt}, {"COM300", std::nullopt}, {"COM999", std::nullopt}, {"COM1000", std::nullopt},
      {"COM4294967301", std::nullopt},
      // No number, or not COM.
      {"COM", std::nullopt}, {"COMX", std::nullopt}, {"", std::nullopt}, {"XYZ42", std::nullopt},
      {"LPT1", std::nullopt}, {"CO1", std::nullopt}, {" COM1", std::nullopt}, {"/dev/ttyS0", std::nullopt},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(ParsePortName(name), expected) << '"' << name << '"';
}

TEST(PortNumberTest, EveryNumberReadsBackFromItsName) {
  for (int number = kLowestPortNumber; number <= kHighestPortNumber; ++number) {
    EXPECT_EQ(ParsePortName(PortName(number)), number);
  }
  EXPECT_EQ(PortName(3), "COM3");
  EXPECT_FALSE(IsPortNumber(kLowestPortNumber - 1));
  EXPECT_FALSE(IsPortNumber(kHighestPortNumber + 1));
  EXPECT_EQ(kPortNumberCount, 257);
}

}  // namespace
}  // namespace lintrel
