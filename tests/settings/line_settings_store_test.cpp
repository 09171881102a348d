#include "settings/line_settings_store.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace lintrel
