#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <system_error>
#include <thread>

#include "capture/link_supervisor.h"
#include "capture/port_connection.h"
#include "capture/port_table.h"
#include "capture/typist.h"
#include "fakes/fake_capture_events.h"
#include "fakes/fake_keyboard.h"
#include "fakes/fake_serial.h"
#include "support/link_state.h"

namespace lintrel::testing {

// The engine wired to in-memory doubles: port n is the fake device "dev/COMn".
class EngineTest : public ::testing::Test {
 protected:
  EngineTest()
      : typist_(keyboard_),
        connection_(table_, options_, driver_, typist_, events_,
                    [this](int port) -> ResolvedDevice {
                      if (const auto absent = absent_devices_.find(port); absent != absent_devices_.end()) {
                        return ResolvedDevice::None(absent->second);
                      }
                      return Device(port);
                    },
                    [this](std::function<void()> body) { return StartThread(std::move(body)); }),
        supervisor_(table_, connection_, options_, events_) {}

  static std::string Device(int port) { return "dev/COM" + std::to_string(port); }

  // Starts the readers' threads, or fails as a process at its thread limit does.
  std::thread StartThread(std::function<void()> body) {
    if (thread_starts_fail_.load()) {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), "no thread");
    }
    return std::thread(std::move(body));
  }
  PortSlot& Slot(int port) { return table_[port]; }
  testing::FakeSerialPort* Port(int port) { return driver_.LastPort(Device(port)); }

  bool LinkStateBecomes(int port, int expected) { return testing::LinkStateBecomes(Slot(port), expected); }

  std::atomic<bool> thread_starts_fail_{false};
  std::map<int, std::string> absent_devices_;  // ports whose resolver finds no device, and why
  std::shared_ptr<FakeKeyboard> keyboard_ = std::make_shared<FakeKeyboard>();
  Typist typist_;
  SharedCaptureOptions options_;
  PortTable table_;
  FakeSerialDriver driver_;
  FakeCaptureEvents events_;
  PortConnection connection_;
  LinkSupervisor supervisor_;
};

}  // namespace lintrel::testing
