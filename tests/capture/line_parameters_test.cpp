#include "capture/line_parameters.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace lintrel {
namespace {

TEST(LineParametersTest, ListPositionsBecomeLineParameters) {
  for (int index = 0; index < 11; ++index) {
    LineSettings settings;
    settings.baud_index = index;
    EXPECT_EQ(LineParametersFromSettings(settings).baud_rate, kBaudRates[static_cast<std::size_t>(index)]);
  }
  LineSettings settings;
  settings.data_bit_index = 0;
  settings.parity_index = 4;
  settings.stop_bit_index = 1;
  const platform::LineParameters line = LineParametersFromSettings(settings);
  EXPECT_EQ(line.data_bits, 7);
  EXPECT_EQ(line.parity, platform::kParitySpace);
  EXPECT_TRUE(line.two_stop_bits);
}

// A position outside its list (nothing selected, or a damaged stored value) opens the port
// with that list's default, never with a parameter outside the tables.
TEST(LineParametersTest, PositionsOutsideTheirListsGiveTheDefaults) {
  const LineSettings cases[] = {
      {"COM1", -1, -1, -1, -1},
      {"COM1", 11, 5, 2, 2},
      {"COM1", 99, 7, 5, 7},
      {"COM1", INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN},
      {"COM1", INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
  };
  for (const LineSettings& settings : cases) {
    SCOPED_TRACE(settings.baud_index);
    const platform::LineParameters line = LineParametersFromSettings(settings);
    EXPECT_EQ(line.baud_rate, 1200u);
    EXPECT_EQ(line.parity, platform::kParityNone);
    EXPECT_EQ(line.data_bits, 8);
    EXPECT_FALSE(line.two_stop_bits);
  }
}

TEST(LineParametersTest, BaudRatesAreFoundInTheList) {
  EXPECT_EQ(BaudIndexForRate(600), 0);
  EXPECT_EQ(BaudIndexForRate(14400), 5);
  EXPECT_EQ(BaudIndexForRate(115200), 10);
  EXPECT_EQ(BaudIndexForRate(300), std::nullopt);
  EXPECT_EQ(BaudIndexForRate(230400), std::nullopt);
}

}  // namespace
}  // namespace lintrel
