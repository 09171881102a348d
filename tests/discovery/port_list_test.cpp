#include "discovery/port_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "discovery/port_names.h"

namespace lintrel {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::Names;

PortList ListOf(const std::vector<std::string>& names) {
  PortList list;
  for (const std::string& name : names) list.Add(name);
  return list;
}

TEST(PortListTest, AddKeepsPortNumberOrderWithOtherNamesLast) {
  const struct {
    std::vector<std::string> added;
    std::vector<std::string> expected;
  } cases[] = {
      {{"COM2", "COM10", "COM1"}, {"COM1", "COM2", "COM10"}},
      {{"COM3", "com20", "COM1"}, {"COM1", "COM3", "com20"}},
      {{"com4", "COM3", "Com5"}, {"COM3", "com4", "Com5"}},
      {{"COM256", "COM0", "COM100"}, {"COM0", "COM100", "COM256"}},
      {{"COM1", "COM"}, {"COM1", "COM"}},
      {{"COM7", "COM7", "COM1"}, {"COM1", "COM7", "COM7"}},
      {{"", "COM1"}, {"COM1", ""}},
      {{"COM05", "COM300", "com05", "COM9"}, {"COM9", "COM05", "com05", "COM300"}},
  };
  for (const auto& test_case : cases) {
    EXPECT_THAT(Names(ListOf(test_case.added)), ElementsAreArray(test_case.expected))
        << ::testing::PrintToString(test_case.added);
  }
}

TEST(PortListTest, EqualNamesKeepTheOrderTheyWereAddedIn) {
  PortList list;
  list.Add("COM3", "first");
  list.Add("COM1");
  list.Add("com3", "second");
  list.Add("COM3", "third");
  list.Add("COM4");
  ASSERT_EQ(list.size(), 5u);
  std::vector<std::string> paths;
  for (const PortEntry& entry : list.entries()) paths.push_back(entry.device_path);
  EXPECT_THAT(paths, ElementsAre("", "first", "second", "third", ""));
  EXPECT_THAT(Names(list), ElementsAre("COM1", "COM3", "com3", "COM3", "COM4"));
}

// The saved port itself first; without it, the first entry that begins with the saved
// text, entry 0 examined last.
TEST(PortListTest, FindSavedPrefersTheExactEntryThenExaminesEntryZeroLast) {
  const struct {
    std::vector<std::string> names;
    std::string saved;
    std::optional<std::size_t> expected;
  } cases[] = {
      {{"COM1", "COM10"}, "COM1", 0},  // COM10 also begins with COM1, but COM1 is there
      {{"COM1", "COM10", "COM12"}, "com10", 1},
      {{"COM10", "COM12"}, "COM1", 1},  // no COM1: the prefix rule, entry 0 last
      {{"COM10", "COM12", "COM2"}, "COM1", 1},
      {{"COM1", "COM2"}, "COM1", 0},
      {{"COM1", "COM2"}, "COM2", 1},
      {{"COM1", "COM2", "COM3"}, "com3", 2},
      {{"COM1", "COM2"}, "COM", 1},
      {{"COM1", "COM2"}, "COM3", std::nullopt},
      {{"COM1", "COM2"}, "COM12", std::nullopt},  // longer than every entry
      {{"COM1", "COM2"}, "", std::nullopt},
      {{"COM5"}, "COM5", 0},
      {{"COM5"}, "c", 0},
      {{}, "COM1", std::nullopt},
      {{"COM3", "COM3"}, "COM3", 0},
  };
  for (const auto& test_case : cases) {
    EXPECT_EQ(ListOf(test_case.names).FindSaved(test_case.saved), test_case.expected)
        << "saved \"" << test_case.saved << "\" in " << ::testing::PrintToString(test_case.names);
  }
}

// The device behind a port is the first entry of that port with a device path; entries are
// matched by the port-name rule, so "com5" is port 5 and "COM05" is no port.
TEST(PortListTest, DevicePathOfAPortNumber) {
  PortList list;
  list.Add("COM5");
  list.Add("com5", "/dev/by-id/scanner");
  list.Add("COM05", "/dev/ttyS9");
  list.Add("COM12", "/dev/ttyUSB0");
  list.Add("COM12", "/dev/ttyUSB1");
  EXPECT_EQ(list.DevicePathOf(5), "/dev/by-id/scanner");
  EXPECT_EQ(list.DevicePathOf(12), "/dev/ttyUSB0");
  EXPECT_EQ(list.DevicePathOf(0), std::nullopt);
  EXPECT_EQ(list.DevicePathOf(9), std::nullopt);
  EXPECT_EQ(PortList().DevicePathOf(5), std::nullopt);
}

// A network port stands under its number with its address, also in place of a port the
// machine lists under that number; pins to devices and to no port are left out.
TEST(PortListTest, NetworkPortsJoinTheList) {
  PortList machine;
  machine.Add("COM1");
  machine.Add("COM3");
  const PortList listed = WithNetworkPorts(
      machine, {{3, "tcp://scale:4001"}, {9, "rfc2217://10.0.0.2:2217"}, {4, "/dev/ttyUSB0"}, {300, "tcp://a:1"}});
  std::vector<std::pair<std::string, std::string>> entries;
  for (const PortEntry& entry : listed.entries()) entries.emplace_back(entry.name, entry.device_path);
  EXPECT_EQ(entries, (std::vector<std::pair<std::string, std::string>>{
                         {"COM1", ""}, {"COM3", "tcp://scale:4001"}, {"COM9", "rfc2217://10.0.0.2:2217"}}));
  EXPECT_EQ(listed.DevicePathOf(9), "rfc2217://10.0.0.2:2217");
}

}  // namespace
}  // namespace lintrel
