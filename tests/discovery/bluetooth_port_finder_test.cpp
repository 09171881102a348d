#include "discovery/bluetooth_port_finder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "discovery/port_names.h"
#include "discovery/registry_scenarios.h"
#include "fakes/fake_registry.h"

namespace lintrel {
namespace {

using testing::AddAssociatedAddress;
using testing::AddPairedSerialDevice;
using testing::DeviceParametersKey;
using ::testing::ElementsAre;
using testing::FakeRegistry;
using ::testing::IsEmpty;
using testing::kInstanceGroup;
using testing::kInstanceId;
using testing::kSerialServiceKey;
using testing::LocalServiceKey;
using testing::ModemEntryText;
using testing::Names;

// ---- Parsing an instance path ----

TEST(ParseModemEntryTest, SplitsAnInstancePath) {
  const std::optional<ModemEntry> entry = ParseModemEntry(ModemEntryText());
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->service_key, kSerialServiceKey);
  EXPECT_EQ(entry->instance_group, kInstanceGroup);
  EXPECT_EQ(entry->instance_id, kInstanceId);
  EXPECT_EQ(entry->device_address, "0011223344AA");
}

TEST(ParseModemEntryTest, RejectsWhatIsNotABoundBluetoothInstance) {
  const std::string guid = kSerialServiceKey;   // 38 characters
  const std::string id_head = "7&1A2B3C4D&0&";  // 13 characters before the address
  const std::string shortest = "BTHENUM\\" + guid + "\\" + id_head + "0011223344AA";
  const struct {
    std::string text;
    bool accepted;
  } cases[] = {
      {shortest, true},
      {shortest.substr(0, shortest.size() - 1), false},           // address one character short
      {"USB\\" + guid + "\\" + id_head + "0011223344AA", false},  // no BTHENUM
      {"BTHENUM\\" + guid.substr(0, 37), false},                  // one short of the service key
      {"BTHENUM\\" + guid, false},  // no backslash after the service key
      {"BTHENUM\\" + guid + "_X&000000000000\\" + id_head + "0011223344AA", false},
      {ModemEntryText(kInstanceGroup, "7&1A2B3C4D&0&000000000000_C00000000"), false},
      {"", false},
      {"BTHENUM", false},
      {"BTHENUM\\\\\\\\\\\\", false},
      {"\\\\BTHENUM" + std::string(60, 'x'), false},  // backslashes only before offset 8
  };
  for (const auto& test_case : cases) {
    EXPECT_EQ(ParseModemEntry(test_case.text).has_value(), test_case.accepted) << test_case.text;
  }
}

TEST(ParseModemEntryTest, EveryTruncationOfAnInstancePathIsHandled) {
  const std::string full = ModemEntryText();
  const std::size_t backslash = full.find('\\', 8);
  const std::size_t needed = backslash + 14 + 12;
  for (std::size_t length = 0; length <= full.size(); ++length) {
    const std::optional<ModemEntry> entry =
        ParseModemEntry(std::string_view(full).substr(0, length));
    EXPECT_EQ(entry.has_value(), length >= needed) << length;
    if (entry) {
      EXPECT_EQ(entry->device_address, "0011223344AA");
    }
  }
}

TEST(AssociatedAddressTextTest, BytesFiveDownToZeroInLowerCaseHex) {
  EXPECT_EQ(AssociatedAddressText(std::string("\xAA\x44\x33\x22\x11\x00", 6)), "0011223344aa");
  EXPECT_EQ(AssociatedAddressText(std::string("\x0F\xF0\x01\x10\xFE\xEF", 6)),
            "effe10"
            "01f00f");
  // Bytes past the sixth are not part of the address.
  EXPECT_EQ(AssociatedAddressText(std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)),
            "060504030201");
  EXPECT_EQ(AssociatedAddressText(std::string("\x01\x02\x03\x04\x05", 5)), std::nullopt);
  EXPECT_EQ(AssociatedAddressText(""), std::nullopt);
}

// ---- Walking the registry ----

class BluetoothPortFinderTest : public ::testing::Test {
 protected:
  std::vector<std::string> FoundNames() {
    PortList list;
    AddBluetoothPorts(registry_, list);
    return Names(list);
  }

  void TearDown() override {
    EXPECT_EQ(registry_.open_key_count(), 0u) << "a key was left open";
    EXPECT_EQ(registry_.bad_closes(), 0);
  }

  FakeRegistry registry_;
};

TEST_F(BluetoothPortFinderTest, FindsThePortOfAPairedSerialDevice) {
  AddPairedSerialDevice(registry_, "COM7");
  EXPECT_THAT(FoundNames(), ElementsAre("COM7"));
  // Service \0 was examined, the missing \1 ended the walk.
  EXPECT_EQ(registry_.OpenCount(LocalServiceKey(kSerialServiceKey, 0)), 1);
  EXPECT_EQ(registry_.OpenCount(LocalServiceKey(kSerialServiceKey, 1)), 1);
  EXPECT_EQ(registry_.OpenCount(LocalServiceKey(kSerialServiceKey, 2)), 0);
}

TEST_F(BluetoothPortFinderTest, NothingWithoutBluetoothKeys) {
  EXPECT_THAT(FoundNames(), IsEmpty());
  EXPECT_THAT(registry_.opened_paths(), ElementsAre(kBluetoothModemEnumKey));
}

TEST_F(BluetoothPortFinderTest, AnEmptyOrUnreadableModemListEndsTheSearch) {
  registry_.AddKey(kBluetoothModemEnumKey);
  EXPECT_THAT(FoundNames(), IsEmpty());
  registry_.FailCount(kBluetoothModemEnumKey);
  registry_.AddString(kBluetoothModemEnumKey, "0", ModemEntryText());
  EXPECT_THAT(FoundNames(), IsEmpty());
  EXPECT_THAT(registry_.opened_paths(),
              ElementsAre(kBluetoothModemEnumKey, kBluetoothModemEnumKey));
}

TEST_F(BluetoothPortFinderTest, OtherModemValuesAndUnreadableOnesAreSkipped) {
  registry_.AddBytes(kBluetoothModemEnumKey, "Count", {2, 0, 0, 0});
  registry_.AddString(kBluetoothModemEnumKey, "1", "USB\\VID_1234&PID_5678\\0001");
  registry_.AddString(kBluetoothModemEnumKey, "2", ModemEntryText() + std::string(60, 'x'));
  AddPairedSerialDevice(registry_, "COM7");
  registry_.AddBytes(kBluetoothModemEnumKey, "NextInstance", {3, 0, 0, 0});
  EXPECT_THAT(FoundNames(), ElementsAre("COM7"));
}

TEST_F(BluetoothPortFinderTest, UnboundInstancesAreIgnored) {
  const std::string unbound_id = "7&1A2B3C4D&0&000000000000_C00000000";
  registry_.AddString(kBluetoothModemEnumKey, "0", ModemEntryText(kInstanceGroup, unbound_id));
  const std::string service = LocalServiceKey(kSerialServiceKey, 0);
  registry_.AddBytes(service, "AssocBdAddr", {0, 0, 0, 0, 0, 0});
  registry_.AddString(service, "ServiceName", "8520");
  registry_.AddString(DeviceParametersKey(kInstanceGroup, unbound_id), "PortName", "COM7");
  EXPECT_THAT(FoundNames(), IsEmpty());
  EXPECT_EQ(registry_.OpenCount(service), 0);
}

TEST_F(BluetoothPortFinderTest, OnlySerialServicesBoundToTheDeviceCount) {
  const struct {
    std::string service_name;
    std::vector<uint8_t> address;
    bool listed;
  } cases[] = {
      {"Serial Port 8520", {0xAA, 0x44, 0x33, 0x22, 0x11, 0x00}, true},
      {"8020", {0xAA, 0x44, 0x33, 0x22, 0x11, 0x00}, true},
      {"Serial Port", {0xAA, 0x44, 0x33, 0x22, 0x11, 0x00}, false},
      {"85 20", {0xAA, 0x44, 0x33, 0x22, 0x11, 0x00}, false},
      {"Serial Port 8520", {0xAB, 0x44, 0x33, 0x22, 0x11, 0x00}, false},
      {"Serial Port 8520", {0x00, 0x11, 0x22, 0x33, 0x44, 0xAA}, false},  // not reversed
  };
  for (const auto& test_case : cases) {
    FakeRegistry registry;
    registry.AddString(kBluetoothModemEnumKey, "0", ModemEntryText());
    const std::string service = LocalServiceKey(kSerialServiceKey, 0);
    registry.AddBinary(service, "AssocBdAddr",
                       std::string(test_case.address.begin(), test_case.address.end()));
    registry.AddString(service, "ServiceName", test_case.service_name);
    registry.AddString(DeviceParametersKey(), "PortName", "COM7");
    PortList list;
    AddBluetoothPorts(registry, list);
    EXPECT_EQ(list.size(), test_case.listed ? 1u : 0u) << test_case.service_name;
    EXPECT_EQ(registry.open_key_count(), 0u);
  }
}

TEST_F(BluetoothPortFinderTest, AddressesCompareWithoutRegardToCase) {
  const std::string lower_id = "7&1A2B3C4D&0&0011223344aa_C00000000";
  registry_.AddString(kBluetoothModemEnumKey, "0", ModemEntryText(kInstanceGroup, lower_id));
  const std::string service = LocalServiceKey(kSerialServiceKey, 0);
  AddAssociatedAddress(registry_, service);
  registry_.AddString(service, "ServiceName", "8520");
  registry_.AddString(DeviceParametersKey(kInstanceGroup, lower_id), "PortName", "COM9");
  EXPECT_THAT(FoundNames(), ElementsAre("COM9"));
}

TEST_F(BluetoothPortFinderTest, ServiceKeysAreWalkedUntilTheFirstMissingOne) {
  registry_.AddString(kBluetoothModemEnumKey, "0", ModemEntryText());
  registry_.AddKey(LocalServiceKey(kSerialServiceKey, 0));  // no values: skipped, walk goes on
  registry_.AddString(LocalServiceKey(kSerialServiceKey, 1), "ServiceName", "Dial-up 1103");
  const std::string bound = LocalServiceKey(kSerialServiceKey, 2);
  AddAssociatedAddress(registry_, bound);
  registry_.AddString(bound, "ServiceName", "8520");
  registry_.AddString(LocalServiceKey(kSerialServiceKey, 4), "ServiceName", "8520");
  registry_.AddString(DeviceParametersKey(), "PortName", "COM7");

  EXPECT_THAT(FoundNames(), ElementsAre("COM7"));
  for (int number = 0; number <= 3; ++number) {
    EXPECT_EQ(registry_.OpenCount(LocalServiceKey(kSerialServiceKey, number)), 1) << number;
  }
  EXPECT_EQ(registry_.OpenCount(LocalServiceKey(kSerialServiceKey, 4)), 0);
  EXPECT_EQ(registry_.OpenCount(DeviceParametersKey()), 1);
}

TEST_F(BluetoothPortFinderTest, AServiceKeyThatCannotBeQueriedEndsTheWalk) {
  AddPairedSerialDevice(registry_, "COM7");
  registry_.FailCount(LocalServiceKey(kSerialServiceKey, 0));
  registry_.AddString(LocalServiceKey(kSerialServiceKey, 1), "Other", "x");
  EXPECT_THAT(FoundNames(), IsEmpty());
  EXPECT_EQ(registry_.OpenCount(LocalServiceKey(kSerialServiceKey, 1)), 0);
}

TEST_F(BluetoothPortFinderTest, ServiceTextsCarryOverToLaterKeys) {
  AddPairedSerialDevice(registry_, "COM7");
  // \1 has neither value: it is judged with the address and name read from \0.
  registry_.AddBytes(LocalServiceKey(kSerialServiceKey, 1), "Enabled", {1, 0, 0, 0});
  // \2 holds an address too short to be one: the address read before stays.
  registry_.AddBytes(LocalServiceKey(kSerialServiceKey, 2), "AssocBdAddr", {1, 2, 3, 4, 5});
  // \3 has no values at all: skipped without being judged.
  registry_.AddKey(LocalServiceKey(kSerialServiceKey, 3));
  EXPECT_THAT(FoundNames(), ElementsAre("COM7", "COM7", "COM7"));
  EXPECT_EQ(registry_.OpenCount(LocalServiceKey(kSerialServiceKey, 4)), 1);
}

TEST_F(BluetoothPortFinderTest, ServiceTextsCarryOverToTheNextInstance) {
  // The first instance's service has a name but a different device; the second instance's
  // service has the matching address and no name, so the name read before decides.
  const std::string other_guid = "{00001101-0000-1000-8000-00805F9B34FC}";
  const std::string other_group = other_guid + "_LOCALMFG&000F";
  const std::string other_id = "7&5E6F7A8B&0&0011223344AA_C00000001";
  registry_.AddString(kBluetoothModemEnumKey, "0", ModemEntryText(other_group, other_id));
  registry_.AddString(kBluetoothModemEnumKey, "1", ModemEntryText());
  registry_.AddBytes(LocalServiceKey(other_guid, 0), "AssocBdAddr", {1, 2, 3, 4, 5, 6});
  registry_.AddString(LocalServiceKey(other_guid, 0), "ServiceName", "SPP 8520");
  registry_.AddString(DeviceParametersKey(other_group, other_id), "PortName", "COM4");
  AddAssociatedAddress(registry_, LocalServiceKey(kSerialServiceKey, 0));
  registry_.AddString(DeviceParametersKey(), "PortName", "COM7");
  EXPECT_THAT(FoundNames(), ElementsAre("COM7"));
}

TEST_F(BluetoothPortFinderTest, OnlyPortNameValuesOfTheDeviceAreAdded) {
  AddPairedSerialDevice(registry_, "COM7");
  registry_.AddString(DeviceParametersKey(), "SymbolicName", "\\??\\BTHENUM#x");
  registry_.AddString(DeviceParametersKey(), "PortName", std::string(100, 'P'));  // unreadable
  registry_.AddString(DeviceParametersKey(), "OldPortName", "COM8");
  EXPECT_THAT(FoundNames(), ElementsAre("COM7", "COM8"));
}

TEST_F(BluetoothPortFinderTest, MissingDeviceParametersAddNothing) {
  registry_.AddString(kBluetoothModemEnumKey, "0", ModemEntryText());
  const std::string service = LocalServiceKey(kSerialServiceKey, 0);
  AddAssociatedAddress(registry_, service);
  registry_.AddString(service, "ServiceName", "8520");
  EXPECT_THAT(FoundNames(), IsEmpty());
  EXPECT_EQ(registry_.OpenCount(DeviceParametersKey()), 1);
}

// A registry in which every key exists and holds one unremarkable value.
class BottomlessRegistry : public platform::RegistryReader {
 public:
  Key OpenKey(const std::string& path) override {
    if (path.starts_with(kLocalServicesKey)) ++service_keys_opened;
    ++open_keys;
    return next_key_++;
  }
  std::optional<uint32_t> CountValues(Key) override { return 1; }
  std::optional<platform::RegistryValue> ReadValue(Key, uint32_t) override {
    return platform::RegistryValue{"0", ModemEntryText() + '\0'};
  }
  void CloseKey(Key) override { --open_keys; }

  std::size_t service_keys_opened = 0;
  int open_keys = 0;

 private:
  Key next_key_ = 1;
};

TEST(BluetoothPortFinderLimitTest, TheServiceWalkEndsInARegistryWithoutEnd) {
  BottomlessRegistry registry;
  PortList list;
  AddBluetoothPorts(registry, list);
  EXPECT_EQ(registry.service_keys_opened, kMaxLocalServiceKeys);
  EXPECT_EQ(registry.open_keys, 0);
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace lintrel
