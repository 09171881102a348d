#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <memory>
#include <string>

#include "platform/posix/custom_baud_rate.h"
#include "platform/virtual_serial_device.h"

namespace lintrel::platform {
namespace {

std::string SystemError(const std::string& what) { return what + ": " + std::generic_category().message(errno); }

class PosixVirtualSerialDevice final : public VirtualSerialDevice {
 public:
  explicit PosixVirtualSerialDevice(std::string link_path) : link_path_(std::move(link_path)) {}
  ~PosixVirtualSerialDevice() override { Unplug(); }

  const std::string& DevicePath() const override { return link_path_; }
  bool Write(std::span<const uint8_t> bytes) override;
  void Unplug() override;
  bool Plug(std::string* error) override;
  // A pseudo-terminal's device side reports the terminal settings of its port side.
  uint32_t PortBaudRate() const override { return master_fd_ < 0 ? 0 : CurrentBaudRate(master_fd_); }

 private:
  bool PointLinkAt(const std::string& target, std::string* error);
  void CloseTerminal();

  std::string link_path_;
  int master_fd_ = -1;  // the device side, which Write() feeds
  int slave_fd_ = -1;   // the port side, held open so it exists while no port has it open
};

bool PosixVirtualSerialDevice::Write(std::span<const uint8_t> bytes) {
  if (master_fd_ < 0) return false;
  std::size_t written = 0;
  while (written < bytes.size()) {
    ssize_t count = write(master_fd_, bytes.data() + written, bytes.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    written += static_cast<std::size_t>(count);
  }
  return true;
}

void PosixVirtualSerialDevice::Unplug() {
  if (master_fd_ < 0) return;
  // Closing the device side hangs up the port side: its reads return 0 or fail with EIO.
  CloseTerminal();
  unlink(link_path_.c_str());
}

bool PosixVirtualSerialDevice::Plug(std::string* error) {
  if (master_fd_ >= 0) return true;
  termios raw = {};
  cfmakeraw(&raw);
  cfsetispeed(&raw, B9600);
  cfsetospeed(&raw, B9600);
  raw.c_cflag |= CREAD | CLOCAL;
  std::array<char, 128> slave_name = {};
  // openpty() sets the port side's terminal to `raw`, so that bytes the device sends while
  // no port has the device open are neither translated nor echoed back.
  if (openpty(&master_fd_, &slave_fd_, slave_name.data(), &raw, nullptr) != 0) {
    *error = SystemError("cannot create a pseudo-terminal");
    master_fd_ = slave_fd_ = -1;
    return false;
  }
  if (tcsetattr(master_fd_, TCSANOW, &raw) != 0) {
    *error = SystemError("cannot configure the pseudo-terminal");
    CloseTerminal();
    return false;
  }
  if (!PointLinkAt(slave_name.data(), error)) {
    CloseTerminal();
    return false;
  }
  return true;
}

// Creates the new link beside the old one and renames it over it, so that the path never
// leads nowhere and never to a stale terminal while it is re-pointed.
bool PosixVirtualSerialDevice::PointLinkAt(const std::string& target, std::string* error) {
  std::string temporary = link_path_ + ".new";
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) != 0) {
    *error = SystemError("cannot create " + temporary);
    return false;
  }
  if (rename(temporary.c_str(), link_path_.c_str()) != 0) {
    *error = SystemError("cannot rename " + temporary + " to " + link_path_);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

void PosixVirtualSerialDevice::CloseTerminal() {
  if (master_fd_ >= 0) close(master_fd_);
  if (slave_fd_ >= 0) close(slave_fd_);
  master_fd_ = slave_fd_ = -1;
}

}  // namespace

std::unique_ptr<VirtualSerialDevice> VirtualSerialDevice::Create(const std::string& link_path,
                                                                 std::string* error) {
  auto device = std::make_unique<PosixVirtualSerialDevice>(link_path);
  if (!device->Plug(error)) return nullptr;
  return device;
}

}  // namespace lintrel::platform
