#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "capture/keystroke_sender.h"
#include "capture/link_supervisor.h"
#include "capture/port_connection.h"
#include "capture/port_table.h"
#include "fakes/fake_keyboard.h"
#include "fakes/fake_serial.h"
#include "fakes/fake_ui_hooks.h"

namespace lintrel::testing {

// The engine wired to in-memory doubles: port n is the fake device "dev/COMn".
class EngineTest : public ::testing::Test {
 protected:
  EngineTest()
      : sender_(keyboard_),
        connection_(table_, options_, driver_, sender_, hooks_,
                    [](int port) { return "dev/COM" + std::to_string(port); }),
        supervisor_(table_, connection_, options_, hooks_) {}

  static std::string Device(int port) { return "dev/COM" + std::to_string(port); }
  PortSlot& Slot(int port) { return table_[port]; }
  testing::FakeSerialPort* Port(int port) { return driver_.LastPort(Device(port)); }

  // Polls (bounded) until the slot's link state reads `expected`.
  bool LinkStateBecomes(int port, int expected) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Slot(port).link_state.load() != expected) {
      if (std::chrono::steady_clock::now() > give_up) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  FakeKeyboard keyboard_;
  KeystrokeSender sender_;
  CaptureOptions options_;
  PortTable table_;
  FakeSerialDriver driver_;
  FakeUiHooks hooks_;
  PortConnection connection_;
  LinkSupervisor supervisor_;
};

}  // namespace lintrel::testing
