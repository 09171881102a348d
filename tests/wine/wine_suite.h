#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "platform/virtual_serial_device.h"
#include "support/child_process.h"
#include "support/xvfb_server.h"
#include "wine/wine_prefix.h"

namespace lintrel::testing {

// The text of a file that another process replaces whole; nullopt while it does not exist.
inline std::optional<std::string> ReadWhole(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// A suite of Wine tests that share one private Xvfb display (the first free one from
// `kFirstDisplay` up) and one Wine prefix, booted once for the whole suite.
template <int kFirstDisplay, bool kVirtualDesktop>
class WineSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartSuite(nullptr); }

  // With `keymap`, the display gets that keymap (setxkbmap) before Wine starts, which then
  // gives its programs the matching keyboard layout.
  static void StartSuite(const char* keymap) {
    if (!WinePrefix::WineInstalled()) return;
    std::string error;
    display_ = std::make_unique<XvfbServer>(kFirstDisplay, "1024x768x24");
    bool started = display_->Start(&error);
    if (started && keymap != nullptr) {
      started = RunToEnd({"setxkbmap", "-display", display_->display_name(), keymap}).Succeeded();
      if (!started) error = std::string("setxkbmap ") + keymap + " failed: install x11-xkb-utils and xkb-data";
    }
    if (started) prefix_ = WinePrefix::Create(display_->display_name(), &error, kVirtualDesktop);
    if (!prefix_) setup_error_ = error;
  }

  static void TearDownTestSuite() {
    prefix_.reset();
    display_.reset();
    setup_error_.reset();
  }

  // Skips without Wine; fails when the suite's display or prefix could not be set up, or a
  // Windows program of the tests has not been built.
  void SetUpSuite(std::initializer_list<const char*> programs) {
    if (!WinePrefix::WineInstalled()) GTEST_SKIP() << "Wine is not installed (tools/setup.sh installs it)";
    ASSERT_FALSE(setup_error_.has_value()) << *setup_error_;
    for (const char* program : programs) {
      ASSERT_TRUE(std::filesystem::exists(program)) << program << " is missing: build the windows preset first";
    }
  }

  static WinePrefix& prefix() { return *prefix_; }
  static const std::string& display_name() { return display_->display_name(); }

  // A pseudo-terminal pair whose one end Wine knows as COMn.
  std::unique_ptr<platform::VirtualSerialDevice> MakeComPort(int port_number) {
    const std::filesystem::path link = prefix_->ComPortLink(port_number);
    std::filesystem::remove(link);
    std::string error;
    std::unique_ptr<platform::VirtualSerialDevice> device =
        platform::VirtualSerialDevice::Create(link.string(), &error);
    EXPECT_NE(device, nullptr) << error;
    return device;
  }

  // The carrier that the pseudo-terminal shim reports for COMn's device.
  void SetCarrier(int port_number, bool present) {
    const std::string device = std::filesystem::canonical(prefix_->ComPortLink(port_number)).string();
    const std::string number = device.substr(device.rfind('/') + 1);
    std::ofstream(prefix_->root() / ("car" + number)) << (present ? "1" : "0");
  }

  // Drops COMn's carrier and raises it again, a round at a time, until `lost` holds; the
  // carrier is up after each round. A reader counts its link lost after two carrier changes
  // that its waits saw, and Wine sees a change only by polling the modem lines while a wait
  // is outstanding: on a busy machine a change undone within a round's pause can pass
  // unseen, so the rounds go on until the program shows the link lost.
  bool DropCarrierUntil(int port_number, ChildProcess& program, const std::function<bool()>& lost) {
    constexpr std::chrono::milliseconds kPause(200);
    for (int round = 0; round < 20; ++round) {
      SetCarrier(port_number, false);
      program.DrainFor(kPause);
      SetCarrier(port_number, true);
      program.DrainFor(kPause);
      if (lost()) return true;
    }
    return false;
  }

 private:
  static inline std::unique_ptr<XvfbServer> display_;
  static inline std::unique_ptr<WinePrefix> prefix_;
  static inline std::optional<std::string> setup_error_;
};

}  // namespace lintrel::testing
