#include "settings/line_settings_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fakes/fake_settings_store.h"

namespace lintrel {
namespace {

using testing::FakeSettingsStore;

void ExpectSettings(const LineSettings& actual, const std::string& port, int baud, int parity,
                    int data_bits, int stop_bits) {
  EXPECT_EQ(actual.port_name, port);
  EXPECT_EQ(actual.baud_index, baud);
  EXPECT_EQ(actual.parity_index, parity);
  EXPECT_EQ(actual.data_bit_index, data_bits);
  EXPECT_EQ(actual.stop_bit_index, stop_bits);
}

TEST(LoadLineSettingsTest, FirstStartGivesTheDefaults) {
  FakeSettingsStore store;
  ExpectSettings(LoadLineSettings(store), "COM1", 1, 0, 1, 0);
}

TEST(LoadLineSettingsTest, EachMissingEntryGetsItsOwnDefault) {
  FakeSettingsStore store;
  store.values["Parity"] = 2;
  store.values["Port"] = std::string("COM9");
  ExpectSettings(LoadLineSettings(store), "COM9", 1, 2, 1, 0);
}

TEST(LoadLineSettingsTest, EntriesOfTheWrongKindGetDefaults) {
  FakeSettingsStore store;
  store.values["Port"] = 3;
  store.values["Baud rate"] = std::string("5");
  store.values["Stop bit"] = std::string("1");
  ExpectSettings(LoadLineSettings(store), "COM1", 1, 0, 1, 0);
}

TEST(LoadLineSettingsTest, StoredValuesAreKeptWithoutARangeCheck) {
  const std::vector<int32_t> odd_values = {-1, 11, 4096, std::numeric_limits<int32_t>::min(),
                                           std::numeric_limits<int32_t>::max()};
  for (const int32_t value : odd_values) {
    SCOPED_TRACE(value);
    FakeSettingsStore store;
    store.values["Baud rate"] = value;
    store.values["Parity"] = value;
    store.values["Databit"] = value;
    store.values["Stop bit"] = value;
    ExpectSettings(LoadLineSettings(store), "COM1", value, value, value, value);
  }
}

TEST(LoadLineSettingsTest, AnEmptyStoredPortStaysEmpty) {
  FakeSettingsStore store;
  store.values["Port"] = std::string();
  EXPECT_EQ(LoadLineSettings(store).port_name, "");
}

TEST(SaveLineSettingsTest, WritesPortThenTheFourPositionsThenFlushesOnce) {
  FakeSettingsStore store;
  const LineSettings settings{"COM12", -1, 11, 3, 2};
  std::string error;
  ASSERT_TRUE(SaveLineSettings(store, settings, &error)) << error;
  EXPECT_EQ(store.calls,
            (std::vector<std::string>{"string Port=COM12", "int Baud rate=-1", "int Parity=11",
                                      "int Databit=3", "int Stop bit=2", "flush"}));
}

TEST(SaveLineSettingsTest, AnEmptyPortIsSavedAsAnEmptyString) {
  FakeSettingsStore store;
  LineSettings settings;
  settings.port_name.clear();
  ASSERT_TRUE(SaveLineSettings(store, settings, nullptr));
  ASSERT_TRUE(store.flushed_values.contains("Port"));
  EXPECT_EQ(std::get<std::string>(store.flushed_values["Port"]), "");
  EXPECT_EQ(LoadLineSettings(store).port_name, "");
}

TEST(SaveLineSettingsTest, ReportsAFailedFlush) {
  FakeSettingsStore store;
  store.flush_failure = "the disk is full";
  std::string error;
  EXPECT_FALSE(SaveLineSettings(store, LineSettings{}, &error));
  EXPECT_EQ(error, "the disk is full");
}

TEST(SaveLineSettingsTest, WhatIsSavedLoadsBack) {
  FakeSettingsStore store;
  const LineSettings saved{"COM200", 7, 4, 0, 1};
  ASSERT_TRUE(SaveLineSettings(store, saved, nullptr));
  ExpectSettings(LoadLineSettings(store), "COM200", 7, 4, 0, 1);
}

TEST(SaveLineSettingsTest, SavingPositionsOnlyLeavesThePortAsItIs) {
  FakeSettingsStore store;
  ASSERT_TRUE(SaveLinePositions(store, {"COM9", 4, 1, 0, 1}, nullptr));
  EXPECT_EQ(store.calls, (std::vector<std::string>{"int Baud rate=4", "int Parity=1", "int Databit=0",
                                                   "int Stop bit=1", "flush"}));
}

TEST(OutOfListWarningTest, NamesEachEntryOutsideItsListWithTheDefaultUsedInstead) {
  struct Case {
    LineSettings settings;
    std::vector<std::string> named;  // every entry outside its list, as the warning shows it
  };
  const std::vector<Case> cases = {
      {{"COM1", 0, 0, 0, 0}, {}},
      {{"", 10, 4, 1, 1}, {}},
      {{"COM1", 11, 0, 1, 0}, {"\"Baud rate\"=11 (the default, 1200 baud"}},
      {{"COM1", 1, 5, 1, 0}, {"\"Parity\"=5 (the default, no parity"}},
      {{"COM1", 1, 0, 2, 0}, {"\"Databit\"=2 (the default, 8 data bits"}},
      {{"COM1", 1, 0, 1, -1}, {"\"Stop bit\"=-1 (the default, 1 stop bit"}},
      {{"COM1", -1, std::numeric_limits<int32_t>::min(), 5, std::numeric_limits<int32_t>::max()},
       {"\"Baud rate\"=-1 (the default, 1200 baud", "\"Parity\"=-2147483648 (the default, no parity", "\"Databit\"=5 (the default, 8 data bits",
        "\"Stop bit\"=2147483647 (the default, 1 stop bit"}},
  };
  for (const Case& test : cases) {
    const std::string warning = OutOfListWarning(test.settings);
    SCOPED_TRACE(warning);
    EXPECT_EQ(warning.empty(), test.named.empty());
    for (const std::string& part : test.named) EXPECT_NE(warning.find(part), std::string::npos) << part;
    EXPECT_EQ(static_cast<std::size_t>(std::count(warning.begin(), warning.end(), '=')), test.named.size())
        << "names only the entries outside their lists";
    EXPECT_EQ(warning.find('\n'), std::string::npos);
  }
}

TEST(SavedPortNamesTest, PortsIsReadWhenItBeginsWithThePortOrStandsAlone) {
  const struct {
    std::optional<std::string> port;
    std::optional<std::string> ports;
    std::vector<std::string> expected;
  } cases[] = {
      {"COM5", std::nullopt, {"COM5"}},            // a file saved when one port was kept
      {"COM5", "COM5,COM7,COM200", {"COM5", "COM7", "COM200"}},
      {"COM6", "COM5,COM7", {"COM6"}},             // Port changed since by a one-port program
      {"COM5", "COM5,,COM7,", {"COM5", "COM7"}},   // empty names are no names
      {std::nullopt, "COM5,COM7", {"COM5", "COM7"}},  // "Port" removed by hand
      {"", "COM5", {}},
  };
  for (const auto& test_case : cases) {
    testing::FakeSettingsStore store;
    if (test_case.port) store.values[kPortEntry] = *test_case.port;
    if (test_case.ports) store.values[kPortsEntry] = *test_case.ports;
    EXPECT_EQ(LoadSavedPortNames(store), test_case.expected) << test_case.ports.value_or("(none)");
  }
}

}  // namespace
}  // namespace lintrel
