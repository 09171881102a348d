#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "discovery/linux_port_scan.h"
#include "platform/posix/custom_baud_rate.h"
#include "platform/posix/line_settings.h"
#include "platform/posix/modem_line_watcher.h"
#include "platform/posix/scoped_fd.h"
#include "platform/serial_port.h"

namespace lintrel::platform {
namespace {

std::string Describe(const std::string& path) {
  return path.empty() ? std::string("(no device path)") : path;
}

SerialError ErrorFromErrno(const std::string& path, int error_number) {
  SerialError error;
  error.os_code = error_number;
  switch (error_number) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      error.kind = SerialErrorKind::kNotFound;
      break;
    case EBUSY:
      error.kind = SerialErrorKind::kBusy;
      error.message = Describe(path) + " is in use by another program";
      return error;
    case EACCES:
    case EPERM:
      error.kind = SerialErrorKind::kAccessDenied;
      break;
    case EIO:
      error.kind = SerialErrorKind::kDeviceGone;
      break;
    default:
      error.kind = SerialErrorKind::kIo;
      break;
  }
  error.message = Describe(path) + ": " + std::generic_category().message(error_number);
  return error;
}

SerialError MakeError(SerialErrorKind kind, int os_code, std::string message) {
  return SerialError{.kind = kind, .os_code = os_code, .message = std::move(message)};
}

std::optional<SerialError> ValidateParameters(const std::string& path,
                                              const LineParameters& parameters) {
  std::optional<std::string> invalid = FindInvalidLineParameter(parameters);
  if (!invalid) return std::nullopt;
  return MakeError(SerialErrorKind::kInvalidArgument, EINVAL, Describe(path) + ": " + *invalid);
}

bool IsPseudoTerminal(int fd) {
  struct statfs file_system = {};
  return fstatfs(fd, &file_system) == 0 && file_system.f_type == DEVPTS_SUPER_MAGIC;
}

std::optional<SerialError> ApplyCustomBaudRate(int fd, const std::string& path,
                                               uint32_t baud_rate) {
  int error_number = SetCustomBaudRate(fd, baud_rate);
  if (error_number == 0) return std::nullopt;
  SerialErrorKind kind =
      error_number == EINVAL ? SerialErrorKind::kInvalidArgument : SerialErrorKind::kUnsupported;
  return MakeError(kind, error_number,
                   Describe(path) + ": cannot set " + std::to_string(baud_rate) +
                       " baud: " + std::generic_category().message(error_number));
}

std::optional<SerialError> Configure(int fd, const std::string& path,
                                     const LineParameters& parameters) {
  termios settings = {};
  if (tcgetattr(fd, &settings) != 0) return ErrorFromErrno(path, errno);
  ApplyLineParameters(parameters, &settings);
  // A pseudo-terminal has no wire and so no framing: the kernel keeps it at 8 bits without
  // parity whatever is asked, and glibc's tcsetattr() reports that as EINVAL even though
  // everything else was set.
  if (tcsetattr(fd, TCSANOW, &settings) != 0 && !(errno == EINVAL && IsPseudoTerminal(fd))) {
    return ErrorFromErrno(path, errno);
  }
  if (NeedsCustomBaudRate(parameters)) {
    return ApplyCustomBaudRate(fd, path, *parameters.baud_rate);
  }
  return std::nullopt;
}

// Windows opens serial ports exclusively; do the same. TIOCEXCL makes later open() calls
// fail with EBUSY, except for root, which it does not stop; the flock() stops everyone
// who asks for it, root included.
std::optional<SerialError> TakeExclusiveUse(int fd, const std::string& path) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return ErrorFromErrno(path, errno == EWOULDBLOCK ? EBUSY : errno);
  }
  ioctl(fd, TIOCEXCL);
  return std::nullopt;
}

void ReleaseExclusiveUse(int fd) {
  // The exclusive flag belongs to the terminal, not to this fd: it would outlive the close
  // while another fd (the virtual device keeps one on its pseudo-terminal) holds it open.
  ioctl(fd, TIOCNXCL);
  flock(fd, LOCK_UN);
}

class PosixSerialPort final : public SerialPort {
 public:
  PosixSerialPort(int fd, int wake_fd, std::unique_ptr<ModemLineWatcher> carrier_watcher)
      : fd_(fd), wake_fd_(wake_fd), carrier_watcher_(std::move(carrier_watcher)) {}
  ~PosixSerialPort() override { Close(); }

  WaitResult WaitForEvent() override;
  ReadResult Read(std::span<uint8_t> buffer) override;
  void Wake() override;
  void Close() override;

 private:
  int fd_;
  std::atomic<int> wake_fd_;
  std::unique_ptr<ModemLineWatcher> carrier_watcher_;  // null when there are no modem lines
};

WaitResult PosixSerialPort::WaitForEvent() {
  enum { kPort, kWake, kCarrier, kCount };
  pollfd fds[kCount] = {};
  fds[kPort] = {.fd = fd_, .events = POLLIN, .revents = 0};
  fds[kWake] = {.fd = wake_fd_.load(), .events = POLLIN, .revents = 0};
  // poll() skips entries with a negative fd.
  fds[kCarrier] = {
      .fd = carrier_watcher_ ? carrier_watcher_->ChangeFd() : -1, .events = POLLIN, .revents = 0};
  if (fd_ < 0 || fds[kWake].fd < 0) return {};

  WaitResult result;
  result.outcome = WaitOutcome::kImmediate;
  int ready = poll(fds, kCount, 0);
  if (ready == 0) {
    result.outcome = WaitOutcome::kDeferred;
    ready = poll(fds, kCount, -1);
  }
  if (ready < 0) return {};
  // The wake-up is never consumed, so every wait after Wake() ends here at once.
  if (fds[kWake].revents != 0) return {.outcome = WaitOutcome::kWoken, .events = 0};
  if (fds[kPort].revents & (POLLIN | POLLHUP | POLLERR)) result.events |= kEventReceived;
  if ((fds[kCarrier].revents & POLLIN) && carrier_watcher_->ConsumeChanges()) {
    result.events |= kEventCarrierChanged;
  }
  if (result.events == 0) return {};
  return result;
}

ReadResult PosixSerialPort::Read(std::span<uint8_t> buffer) {
  if (fd_ < 0) return {.count = 0, .device_gone = true};
  // read() of 0 bytes returns 0, which would look like a hang-up.
  if (buffer.empty()) return {};
  ssize_t count = read(fd_, buffer.data(), buffer.size());
  if (count > 0) return {.count = static_cast<std::size_t>(count), .device_gone = false};
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) return {};
  // 0 is a hang-up; EIO, ENXIO and ENODEV a device that has gone. Any other error counts
  // as gone too, so that the reader does not spin on a broken fd.
  return {.count = 0, .device_gone = true};
}

void PosixSerialPort::Wake() {
  int wake_fd = wake_fd_.load();
  if (wake_fd < 0) return;
  uint64_t one = 1;
  // The only failure, a full counter, still leaves the eventfd readable.
  [[maybe_unused]] ssize_t written = write(wake_fd, &one, sizeof one);
}

void PosixSerialPort::Close() {
  carrier_watcher_.reset();
  if (fd_ >= 0) {
    int lines = TIOCM_DTR;
    ioctl(fd_, TIOCMBIC, &lines);  // fails on pseudo-terminals, which have no modem lines
    tcflush(fd_, TCIOFLUSH);
    ReleaseExclusiveUse(fd_);
    close(fd_);
    fd_ = -1;
  }
  int wake_fd = wake_fd_.exchange(-1);
  if (wake_fd >= 0) close(wake_fd);
}

// Makes the just opened device ready for reading, or says why it cannot be used.
std::optional<SerialError> PrepareDevice(int fd, const std::string& path,
                                         const LineParameters& parameters) {
  if (!isatty(fd)) {
    return MakeError(SerialErrorKind::kUnsupported, ENOTTY,
                     Describe(path) + " is not a serial device");
  }
  if (auto busy = TakeExclusiveUse(fd, path)) return busy;
  if (auto failure = Configure(fd, path, parameters)) {
    ReleaseExclusiveUse(fd);
    return failure;
  }
  int lines = TIOCM_RTS;
  ioctl(fd, TIOCMBIS, &lines);  // fails on pseudo-terminals, which have no modem lines
  // Bytes that arrived before the connection are stale.
  tcflush(fd, TCIOFLUSH);
  return std::nullopt;
}

class PosixSerialDriver final : public SerialDriver {
 public:
  OpenResult Open(const std::string& device_path, const LineParameters& parameters) override;
};

OpenResult PosixSerialDriver::Open(const std::string& device_path,
                                   const LineParameters& parameters) {
  if (auto invalid = ValidateParameters(device_path, parameters)) {
    return {.port = nullptr, .error = std::move(*invalid)};
  }
  ScopedFd wake_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (wake_fd.get() < 0) return {.port = nullptr, .error = ErrorFromErrno(device_path, errno)};
  ScopedFd fd(open(device_path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return {.port = nullptr, .error = ErrorFromErrno(device_path, errno)};
  if (auto failure = PrepareDevice(fd.get(), device_path, parameters)) {
    return {.port = nullptr, .error = std::move(*failure)};
  }
  auto carrier_watcher = ModemLineWatcher::StartForCarrier(fd.get());
  return {.port = std::make_unique<PosixSerialPort>(fd.Release(), wake_fd.Release(),
                                                    std::move(carrier_watcher)),
          .error = {}};
}

}  // namespace

std::unique_ptr<SerialDriver> MakeSystemSerialDriver() {
  return std::make_unique<PosixSerialDriver>();
}

std::string DefaultDevicePath(int port_number) { return LinuxDevicePathForPort(port_number); }

}  // namespace lintrel::platform
