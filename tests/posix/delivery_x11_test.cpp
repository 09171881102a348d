// lintrel-cli delivering each port's lines to its own target on a private Xvfb display
// run by openbox (a window manager that keeps _NET_ACTIVE_WINDOW), with two receiving
// windows of different WM_CLASS: two applications on one desk.

#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/virtual_serial_device.h"
#include "posix/posix_test_support.h"
#include "support/child_process.h"
#include "support/safety_limit.h"
#include "support/x_key_window.h"
#include "support/xvfb_server.h"

namespace {

using lintrel::platform::VirtualSerialDevice;
using lintrel::testing::ChildProcess;
using lintrel::testing::ReadClipboardText;
using lintrel::testing::XKeyWindow;


class DeliveryX11Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<lintrel::testing::XvfbServer>(140, "640x480x24");
    if (!server_->Start(&setup_error_)) return server_.reset();
    lintrel::testing::ScopedEnvironment display("DISPLAY", server_->display_name());
    // Openbox names itself on the root window before it manages windows: a window mapped in
    // between may never be mapped. Its start-up command runs once it manages them.
    manager_ = std::make_unique<ChildProcess>(
        "openbox", std::vector<std::string>{"--sm-disable", "--startup", "echo window manager ready"});
    if (!manager_->WaitUntil([] { return manager_->out().find("window manager ready") != std::string::npos; })) {
      setup_error_ = "openbox did not start (install openbox): " + manager_->Describe();
      manager_.reset();
    }
  }
  static void TearDownTestSuite() {
    manager_.reset();
    server_.reset();
  }

  void SetUp() override {
    ASSERT_NE(manager_, nullptr) << setup_error_;
    std::string error;
    stock_ = XKeyWindow::Open(server_->display_name(), {.wm_class = "stockroom"}, &error);
    ASSERT_NE(stock_, nullptr) << error;
    mail_ = XKeyWindow::Open(server_->display_name(), {.wm_class = "mailbox"}, &error);
    ASSERT_NE(mail_, nullptr) << error;
    ASSERT_TRUE(mail_->Activate());
    const std::string base = "/tmp/lintrel-delivery-test-" + std::to_string(getpid());
    for (int i = 0; i < 2; ++i) {
      devices_.push_back(VirtualSerialDevice::Create(base + "-" + std::to_string(i), &error));
      ASSERT_NE(devices_.back(), nullptr) << error;
    }
  }

  // Runs lintrel-cli with COM1 on the first device and COM2 on the second; `args` follow.
  void Start(const std::vector<std::string>& args) {
    lintrel::testing::ScopedEnvironment display("DISPLAY", server_->display_name());
    std::vector<std::string> all = {"--truncate", "--keys", "x11", "--port", "COM1=" + devices_[0]->DevicePath()};
    all.insert(all.end(), args.begin(), args.end());
    cli_ = std::make_unique<ChildProcess>(LINTREL_CLI_PATH, all);
    ASSERT_TRUE(cli_->WaitForErr("COM1 connected")) << cli_->Describe();
  }

  bool Send(int device, const std::string& text) {
    return devices_[device]->Write({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  }

  void TearDown() override {
    if (cli_) {
      cli_->Signal(SIGTERM);
      cli_->WaitForExit();
    }
  }

  static inline std::unique_ptr<lintrel::testing::XvfbServer> server_;
  static inline std::unique_ptr<ChildProcess> manager_;
  static inline std::string setup_error_;
  std::unique_ptr<XKeyWindow> stock_;
  std::unique_ptr<XKeyWindow> mail_;
  std::vector<std::unique_ptr<VirtualSerialDevice>> devices_;
  std::unique_ptr<ChildProcess> cli_;
};

// Each scanner's lines go to its own program; the stock lines wait while the mailbox is in
// front, told once, and arrive in order when the stockroom comes back.
TEST_F(DeliveryX11Test, LinesForAWindowNotInFrontWaitAndArriveInOrder) {
  Start({"--target", "Stockroom:STOCK", "--port", "COM2=" + devices_[1]->DevicePath(), "--target", "mailbox"});
  ASSERT_TRUE(cli_->WaitForErr("COM2 connected")) << cli_->Describe();
  ASSERT_TRUE(Send(0, "s1\r"));
  ASSERT_TRUE(Send(0, "s2\x1b\r"));
  ASSERT_TRUE(cli_->WaitForErr("COM1: lines wait for Stockroom:STOCK until it is in front (mailbox is in front)"))
      << cli_->Describe();
  ASSERT_TRUE(Send(1, "m1\x1b\r"));
  EXPECT_EQ(mail_->TextUntilEscape(), "m1");
  ASSERT_TRUE(stock_->Activate());
  EXPECT_EQ(stock_->TextUntilEscape(), "s1s2");
  ASSERT_TRUE(cli_->WaitForErr("COM1: no line waits for Stockroom:STOCK any more")) << cli_->Describe();
  EXPECT_EQ(cli_->err().find("lines wait for mailbox"), std::string::npos) << cli_->Describe();
}

TEST_F(DeliveryX11Test, ActivateBringsTheTargetUp) {
  Start({"--target", "stockroom", "--elsewhere", "activate"});
  ASSERT_TRUE(Send(0, "a1\x1b\r"));
  EXPECT_EQ(stock_->TextUntilEscape(), "a1");
  EXPECT_TRUE(stock_->IsActive());
}

// A remote session's viewer takes every character by itself (on spare keys), said once.
TEST_F(DeliveryX11Test, ARemoteSessionTargetIsTypedAsUnicodeByItself) {
  std::string error;
  std::unique_ptr<XKeyWindow> viewer = XKeyWindow::Open(server_->display_name(), {.wm_class = "mstsc"}, &error);
  ASSERT_NE(viewer, nullptr) << error;
  ASSERT_TRUE(viewer->Activate());
  Start({"--target", "mstsc"});
  ASSERT_TRUE(Send(0, "Ab1\x1b\r"));
  EXPECT_EQ(viewer->TextUntilEscape(), "Ab1");
  ASSERT_TRUE(cli_->WaitForErr("COM1: mstsc in front is a remote session (mstsc): its lines are typed as Unicode "
                               "characters"))
      << cli_->Describe();
}

// The dropped line goes nowhere: the mailbox in front gets only the line of the port
// without a target.
TEST_F(DeliveryX11Test, DropReportsTheLineAndTypesNothing) {
  Start({"--target", "stockroom", "--elsewhere", "drop", "--port", "COM2=" + devices_[1]->DevicePath()});
  ASSERT_TRUE(cli_->WaitForErr("COM2 connected")) << cli_->Describe();
  ASSERT_TRUE(Send(0, "d1\r"));
  ASSERT_TRUE(cli_->WaitForErr("COM1: line not typed: stockroom is not in front (mailbox is in front)"))
      << cli_->Describe();
  ASSERT_TRUE(Send(1, "m\x1b\r"));
  EXPECT_EQ(mail_->TextUntilEscape(), "m");
}

// Pasted: a line of 2,000 characters (a received line of 400, five times over by the
// template), most of which no key of the layout types, and a line of two lines arrive whole,
// each with its Tab pressed after it; the clipboard holds what the user copied again.
TEST_F(DeliveryX11Test, PastedLinesArriveWholeAndTheClipboardIsPutBack) {
  std::string error;
  std::unique_ptr<XKeyWindow> editor =
      XKeyWindow::Open(server_->display_name(), {.wm_class = "editor", .pastes = true, .end_key = XK_Tab}, &error);
  ASSERT_NE(editor, nullptr) << error;
  ASSERT_TRUE(editor->Activate());
  stock_->Copy("copied by the user");
  const std::vector<std::string> characters = {"a", "\u00E9", "\u0436", "\u20AC", "\u6F22", "7", " ", "\U0001F600"};
  std::string received;
  for (std::size_t i = 0; i < 400; ++i) received += characters[i % characters.size()];
  const auto five_times = [](const std::string& text) { return text + text + text + text + text; };
  Start({"--delivery", "paste", "--template", "{line}{line}{line}{line}{line}\\t"});
  ASSERT_TRUE(Send(0, received + "\r"));
  ASSERT_TRUE(Send(0, "one\ntwo\r"));
  const std::optional<std::string> pasted = editor->TextUntilEscape();
  ASSERT_TRUE(pasted) << cli_->Describe();
  EXPECT_TRUE(*pasted == five_times(received))
      << pasted->size() << " bytes of " << five_times(received).size() << ": " << pasted->substr(0, 100);
  EXPECT_EQ(editor->TextUntilEscape(), five_times("one\ntwo"));
  EXPECT_EQ(ReadClipboardText(server_->display_name()), "copied by the user");
  EXPECT_EQ(cli_->err().find("not typed"), std::string::npos) << cli_->Describe();
}

}  // namespace
