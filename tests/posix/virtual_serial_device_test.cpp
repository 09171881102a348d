#include "platform/virtual_serial_device.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port.h"
#include "posix/posix_test_support.h"

namespace lintrel::platform {
namespace {

using testing::BackgroundCall;
using testing::BlockingCall;
using testing::Bytes;
using testing::ReceiveBytes;

class VirtualSerialDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(directory_.ok());
    std::string error;
    device_ = VirtualSerialDevice::Create(link_path_, &error);
    ASSERT_NE(device_, nullptr) << error;
  }

  OpenResult OpenPort() { return driver_->Open(link_path_, {}); }

  testing::TemporaryDirectory directory_;
  std::string link_path_ = directory_.File("scanner");
  std::unique_ptr<VirtualSerialDevice> device_;
  std::unique_ptr<SerialDriver> driver_ = MakeSystemSerialDriver();
};

TEST_F(VirtualSerialDeviceTest, PathIsALinkToAPseudoTerminal) {
  EXPECT_EQ(device_->DevicePath(), link_path_);
  ASSERT_TRUE(std::filesystem::is_symlink(link_path_));
  EXPECT_EQ(std::filesystem::read_symlink(link_path_).string().rfind("/dev/pts/", 0), 0u);
}

TEST_F(VirtualSerialDeviceTest, WrittenBytesReachThePortUnchanged) {
  OpenResult opened = OpenPort();
  ASSERT_NE(opened.port, nullptr) << opened.error.message;
  std::vector<uint8_t> sent = Bytes("4006381333931\r\n");
  sent.insert(sent.end(), {0x00, 0xFF, 0x1B, '\r'});
  ASSERT_TRUE(device_->Write(sent));
  EXPECT_EQ(ReceiveBytes(*opened.port, sent.size()), sent);
}

TEST_F(VirtualSerialDeviceTest, LargeWritesArriveWhole) {
  OpenResult opened = OpenPort();
  ASSERT_NE(opened.port, nullptr) << opened.error.message;
  // More than the terminal buffers, so that the write must wait for the reader.
  std::vector<uint8_t> sent(256 * 1024);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 7 + i / 256);
  BackgroundCall<bool> write([&] { return device_->Write(sent); }, [&] { device_->Unplug(); });
  EXPECT_EQ(ReceiveBytes(*opened.port, sent.size()), sent);
  EXPECT_TRUE(write.Get());
}

TEST_F(VirtualSerialDeviceTest, UnplugHangsUpThePortAndRemovesThePath) {
  OpenResult opened = OpenPort();
  ASSERT_NE(opened.port, nullptr) << opened.error.message;
  SerialPort& port = *opened.port;
  BackgroundCall<WaitResult> wait([&] { return port.WaitForEvent(); }, [&] { port.Wake(); });
  ASSERT_TRUE(wait.WaitUntilBlockedIn(BlockingCall::kPollWithoutTimeout));

  device_->Unplug();
  WaitResult result = wait.Get();
  EXPECT_EQ(result.outcome, WaitOutcome::kDeferred);
  EXPECT_NE(result.events & kEventReceived, 0u);
  std::vector<uint8_t> buffer(kReadChunkSize);
  EXPECT_TRUE(port.Read(buffer).device_gone);

  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_path_)));
  EXPECT_FALSE(device_->Write(Bytes("lost")));
  OpenResult reopened = OpenPort();
  EXPECT_EQ(reopened.port, nullptr);
  EXPECT_EQ(reopened.error.kind, SerialErrorKind::kNotFound);
}

TEST_F(VirtualSerialDeviceTest, PlugBringsAWorkingDeviceBackAtTheSamePath) {
  OpenResult first = OpenPort();
  ASSERT_NE(first.port, nullptr) << first.error.message;
  device_->Unplug();
  device_->Unplug();  // twice is harmless

  std::string error;
  ASSERT_TRUE(device_->Plug(&error)) << error;
  EXPECT_EQ(device_->DevicePath(), link_path_);
  OpenResult second = OpenPort();
  ASSERT_NE(second.port, nullptr) << second.error.message;
  ASSERT_TRUE(device_->Write(Bytes("after replug\r")));
  EXPECT_EQ(ReceiveBytes(*second.port, 13), Bytes("after replug\r"));

  // The port opened before the unplug stays gone.
  std::vector<uint8_t> buffer(kReadChunkSize);
  EXPECT_TRUE(first.port->Read(buffer).device_gone);
}

TEST_F(VirtualSerialDeviceTest, PlugWhilePluggedKeepsTheDevice) {
  OpenResult opened = OpenPort();
  ASSERT_NE(opened.port, nullptr) << opened.error.message;
  std::string error;
  ASSERT_TRUE(device_->Plug(&error)) << error;
  ASSERT_TRUE(device_->Write(Bytes("same")));
  EXPECT_EQ(ReceiveBytes(*opened.port, 4), Bytes("same"));
}

TEST_F(VirtualSerialDeviceTest, DestroyingTheDeviceRemovesThePath) {
  device_.reset();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_path_)));
}

TEST_F(VirtualSerialDeviceTest, ANewDeviceTakesOverTheLinkOfAnEarlierOne) {
  std::string earlier_target = std::filesystem::read_symlink(link_path_).string();
  std::string error;
  auto successor = VirtualSerialDevice::Create(link_path_, &error);
  ASSERT_NE(successor, nullptr) << error;
  EXPECT_NE(std::filesystem::read_symlink(link_path_).string(), earlier_target);
  OpenResult opened = OpenPort();
  ASSERT_NE(opened.port, nullptr) << opened.error.message;
  ASSERT_TRUE(successor->Write(Bytes("new")));
  EXPECT_EQ(ReceiveBytes(*opened.port, 3), Bytes("new"));
}

TEST(VirtualSerialDeviceCreateTest, FailsWithAReasonWhereNoLinkCanBeMade) {
  testing::TemporaryDirectory directory;
  ASSERT_TRUE(directory.ok());
  std::string error;
  auto device = VirtualSerialDevice::Create(directory.File("missing/scanner"), &error);
  EXPECT_EQ(device, nullptr);
  EXPECT_NE(error.find("missing/scanner"), std::string::npos) << error;
}

}  // namespace
}  // namespace lintrel::platform
