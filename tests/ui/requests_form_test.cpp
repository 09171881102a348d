#include "ui/requests_form.h"

#include <gtest/gtest.h>

#include <string>

#include "ui/network_port_form.h"

namespace lintrel::ui {
namespace {

const Hotkey kCtrlAltF9{.modifiers = Hotkey::kCtrl | Hotkey::kAlt, .key = 0x78};

// --- Requests -----------------------------------------------------------------------------

TEST(RequestsFormTest, ValuesOpenAsTheUserWritesThemAndReadBack) {
  const PortRequestValues values{
      .requests = {.send_on_connect = "ID\r\n", .poll = "P\x1B\\", .poll_every_ms = 500, .reply_timeout_ms = 100},
      .hotkey = kCtrlAltF9};
  const RequestsForm form = RequestsFormFrom(values);
  EXPECT_EQ(form.send_on_connect, "ID\\r\\n");
  EXPECT_EQ(form.poll, "P\\x1B\\\\");
  EXPECT_EQ(form.poll_every_text, "500");
  EXPECT_EQ(form.reply_timeout_text, "100");
  EXPECT_EQ(form.hotkey_text, "Ctrl+Alt+F9");
  PortRequestValues read;
  ASSERT_EQ(ApplyRequestsForm(form, read), std::nullopt);
  EXPECT_EQ(read, values);
  // Nothing set: empty fields, which read back as nothing sent and no hotkey.
  EXPECT_EQ(ApplyRequestsForm(RequestsFormFrom({}), read), std::nullopt);
  EXPECT_EQ(read, PortRequestValues{});
}

// Each wrong field: its message, and nothing stored.
TEST(RequestsFormTest, AWrongFieldIsNamedAndNothingIsStored) {
  const RequestsForm good{.send_on_connect = "ID", .poll = "P\\r", .poll_every_text = " 1000 ",
                          .reply_timeout_text = "", .hotkey_text = "ctrl+alt+f9"};
  const std::string range = "Please enter an integer between 100 and 3600000. Empty: off.";
  const struct {
    std::string RequestsForm::*text;
    const char* value;
    RequestsField field;
    std::string message;
  } cases[] = {
      {&RequestsForm::send_on_connect, "\\q", RequestsField::kSendOnConnect, "Send on connect: \\q is not an escape"},
      {&RequestsForm::poll, "P\\x4", RequestsField::kPoll, "Poll text: "},
      {&RequestsForm::poll_every_text, "99", RequestsField::kPollEvery, "Poll every (ms): " + range},
      {&RequestsForm::poll_every_text, "0", RequestsField::kPollEvery, "Poll every (ms): " + range},
      {&RequestsForm::poll_every_text, "1s", RequestsField::kPollEvery, "Poll every (ms): Please enter an integer."},
      {&RequestsForm::reply_timeout_text, "3600001", RequestsField::kReplyTimeout, "Reply timeout (ms): " + range},
      {&RequestsForm::poll, "", RequestsField::kPollEvery, "Poll every (ms): there is no poll text to send."},
      {&RequestsForm::hotkey_text, "Ctrl+Alt", RequestsField::kHotkey, "Hotkey: \"Ctrl+Alt\": \"Alt\" is not a key"},
  };
  for (const auto& c : cases) {
    RequestsForm form = good;
    form.*c.text = c.value;
    PortRequestValues values{.requests = {.poll = "kept"}};
    const std::optional<RequestsFormError> error = ApplyRequestsForm(form, values);
    ASSERT_TRUE(error.has_value()) << c.message;
    EXPECT_EQ(error->field, c.field) << c.message;
    EXPECT_EQ(error->message.rfind(c.message, 0), 0u) << error->message;
    EXPECT_EQ(values.requests.poll, "kept") << c.message;
  }
  PortRequestValues values;
  ASSERT_EQ(ApplyRequestsForm(good, values), std::nullopt);
  EXPECT_EQ(values.requests.poll_every_ms, 1000);
  EXPECT_EQ(values.requests.reply_timeout_ms, 0);
}

// The system takes a hotkey once: a second port cannot have it.
TEST(RequestsFormTest, AHotkeyAnotherPortHasIsRefused) {
  RequestsForm form{.hotkey_text = "Alt+Ctrl+F9"};
  PortRequestValues values;
  const std::optional<RequestsFormError> error = ApplyRequestsForm(form, values, {{3, kCtrlAltF9}});
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->message, "Hotkey: Ctrl+Alt+F9 already sends the poll of COM3");
  form.hotkey_text = "Ctrl+Alt+F10";
  EXPECT_EQ(ApplyRequestsForm(form, values, {{3, kCtrlAltF9}}), std::nullopt);
}

// --- Network ports ----------------------------------------------------------------------

TEST(NetworkPortFormTest, TheAddressAndAFreeNumberAreChecked) {
  const std::set<int> machine = {1, 5};
  const struct {
    const char* address;
    const char* port;
    std::optional<NetworkPort> accepted;
    std::string message;
  } cases[] = {
      {"tcp://127.0.0.1:4001", "COM9", NetworkPort{9, "tcp://127.0.0.1:4001"}, ""},
      {" RFC2217://scale:2217 ", " 20 ", NetworkPort{20, "rfc2217://scale:2217"}, ""},
      {"tcp://[::1]:7", "com256", NetworkPort{256, "tcp://[::1]:7"}, ""},
      {"COM3", "COM9", std::nullopt, "Address: "},
      {"udp://scale:7", "COM9", std::nullopt, "Address: "},
      {"tcp://scale", "COM9", std::nullopt, "Address: "},
      {"tcp://scale:7", "COM5", std::nullopt, "COM port: COM5 is a port of this computer"},
      {"tcp://scale:7", "COM0", std::nullopt, "COM port: give COMn with n from 1 to 256"},
      {"tcp://scale:7", "257", std::nullopt, "COM port: give COMn"},
      {"tcp://scale:7", "COM09", std::nullopt, "COM port: give COMn"},
  };
  for (const auto& c : cases) {
    NetworkPort port{.port_number = 99, .address = "before"};
    const std::optional<NetworkPortFormError> error = ApplyNetworkPortForm({c.address, c.port}, machine, port);
    if (c.accepted) {
      EXPECT_EQ(error, std::nullopt) << c.address << " " << c.port << ": " << error->message;
      EXPECT_EQ(port, *c.accepted) << c.address;
      continue;
    }
    ASSERT_TRUE(error.has_value()) << c.address << " " << c.port;
    EXPECT_EQ(error->field, c.message.starts_with("Address") ? NetworkPortField::kAddress : NetworkPortField::kPort);
    EXPECT_EQ(error->message.rfind(c.message, 0), 0u) << error->message;
    EXPECT_EQ(port.address, "before");
  }
}

// A network port already there may take another address: its number is not the machine's.
TEST(NetworkPortFormTest, TheListShowsAddressesAndCountsOnlyTheMachinesPorts) {
  PortList ports;
  ports.Add("COM3", "\\\\.\\COM3");
  ports.Add("COM9", "tcp://scale:4001");
  ports.Add("COM4");
  EXPECT_EQ(MachinePortNumbers(ports), (std::set<int>{3, 4}));
  EXPECT_EQ(PortListText(ports.entries()[0]), "COM3");
  EXPECT_EQ(PortListText(ports.entries()[2]), "COM9  tcp://scale:4001");
}

}  // namespace
}  // namespace lintrel::ui
