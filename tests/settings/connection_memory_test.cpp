#include "settings/connection_memory.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_settings_store.h"

namespace lintrel {
namespace {

using testing::FakeSettingsStore;
using Value = FakeSettingsStore::Value;

RememberedPort Port(int number, LineSettings line, std::string device = {}) {
  line.port_name = "COM" + std::to_string(number);
  return {.port_number = number, .line = line, .device_key = std::move(device)};
}

TEST(ConnectionMemoryTest, SavedPortsComeBackAndThoseNoLongerListedLeaveNothingBehind) {
  FakeSettingsStore store;
  const std::vector<RememberedPort> first = {Port(5, {"", 4, 0, 1, 0}, "USB\\VID_0403&PID_6001\\A1"),
                                             Port(12, {"", 10, 2, 0, 1}), Port(7, {"", -1, 0, 1, 0}, "X\\Y\\Z")};
  std::string error;
  ASSERT_TRUE(SaveRememberedPorts(store, first, &error)) << error;
  EXPECT_EQ(store.flushed_values, (std::map<std::string, Value>{
                                      {"Connected ports", std::string("COM5,COM12,COM7")},
                                      {"COM5 line settings", std::string("4,0,1,0")},
                                      {"COM5 device", std::string("USB\\VID_0403&PID_6001\\A1")},
                                      {"COM12 line settings", std::string("10,2,0,1")},
                                      {"COM7 line settings", std::string("-1,0,1,0")},
                                      {"COM7 device", std::string("X\\Y\\Z")},
                                  }));
  EXPECT_EQ(LoadRememberedPorts(store), first);

  // COM12 disconnected, COM7 no longer followed.
  const std::vector<RememberedPort> second = {Port(5, {"", 4, 0, 1, 0}, "USB\\VID_0403&PID_6001\\A1"),
                                              Port(7, {"", -1, 0, 1, 0})};
  ASSERT_TRUE(SaveRememberedPorts(store, second, &error)) << error;
  EXPECT_EQ(LoadRememberedPorts(store), second);
  EXPECT_EQ(store.flushed_values.count("COM12 line settings"), 0u);
  EXPECT_EQ(store.flushed_values.count("COM7 device"), 0u);

  ASSERT_TRUE(SaveRememberedPorts(store, {}, &error)) << error;
  EXPECT_EQ(store.flushed_values, (std::map<std::string, Value>{{"Connected ports", std::string()}}));
}

TEST(ConnectionMemoryTest, DamagedEntriesAreSkippedOrReadAsDefaults) {
  FakeSettingsStore store;
  store.WriteString("Connected ports", "COM5,,com5,COM300,junk,com7,COM05");
  store.WriteString("COM5 line settings", "4,0,1");
  store.WriteString("COM7 line settings", "4,x,1,0");
  const std::vector<RememberedPort> ports = LoadRememberedPorts(store);
  EXPECT_EQ(ports, (std::vector<RememberedPort>{Port(5, LineSettings{}), Port(7, LineSettings{})}));

  FakeSettingsStore wrong_kind;
  wrong_kind.WriteInt("Connected ports", 5);
  EXPECT_TRUE(LoadRememberedPorts(wrong_kind).empty());
}

TEST(ConnectionMemoryTest, StartupOptionsAreOnUnlessStoredAsZero) {
  const struct {
    std::optional<Value> stored;
    bool on;
  } cases[] = {{std::nullopt, true}, {Value(int32_t{0}), false}, {Value(int32_t{1}), true},
               {Value(int32_t{-7}), true}, {Value(std::string("0")), true}};
  for (const auto& test_case : cases) {
    FakeSettingsStore store;
    if (test_case.stored) {
      store.values["Reconnect at start"] = *test_case.stored;
      store.values["Follow devices"] = *test_case.stored;
    }
    const StartupOptions options = LoadStartupOptions(store);
    EXPECT_EQ(options.reconnect_at_start, test_case.on);
    EXPECT_EQ(options.follow_devices, test_case.on);
  }

  FakeSettingsStore store;
  std::string error;
  ASSERT_TRUE(SaveStartupOptions(store, {.reconnect_at_start = false, .follow_devices = true}, &error));
  EXPECT_EQ(store.flushed_values, (std::map<std::string, Value>{{"Reconnect at start", int32_t{0}},
                                                                 {"Follow devices", int32_t{1}}}));
  store.flush_failure = "no access";
  EXPECT_FALSE(SaveRememberedPorts(store, {Port(1, {})}, &error));
  EXPECT_EQ(error, "no access");
}

}  // namespace
}  // namespace lintrel
