#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

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

// The terminal an fd stands for. /dev/tty and /dev/console are aliases whose own device
// number is not the terminal's: TIOCGDEV names the terminal behind them.
dev_t TerminalDevice(int fd, const struct stat& status) {
  unsigned int device = 0;
  if (ioctl(fd, TIOCGDEV, &device) == 0) return static_cast<dev_t>(device);
  return status.st_rdev;
}

// Opening /dev/ptmx (or /dev/pts/ptmx) creates a new pseudo-terminal and returns its master
// side; the legacy BSD masters have major number 2. None of them is a serial device.
bool IsPseudoTerminalMasterNode(dev_t device) {
  return (major(device) == 5 && minor(device) == 2) || major(device) == 2;
}

// A master side reached some other way (through /proc/<pid>/fd/N, say) answers TIOCGPTN.
bool IsPseudoTerminalMaster(int fd, const struct stat& status) {
  unsigned int number = 0;
  return IsPseudoTerminalMasterNode(status.st_rdev) || ioctl(fd, TIOCGPTN, &number) == 0;
}

// The controlling terminal in one line of /proc/<pid>/stat, as the kernel encodes device
// numbers there; empty for a process without one. The command name (second field) may
// hold spaces and parentheses, so the fields are counted from its last ')'.
std::optional<dev_t> ControllingTerminalInStat(std::string_view stat_line) {
  const std::size_t name_end = stat_line.rfind(')');
  if (name_end == std::string_view::npos) return std::nullopt;
  std::string_view rest = stat_line.substr(name_end + 1);
  // After the name: state, parent, process group, session, terminal.
  for (int field = 0; field < 4; ++field) {
    rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
    rest.remove_prefix(std::min(rest.find(' '), rest.size()));
  }
  rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
  long long encoded = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), encoded);
  if (error != std::errc() || encoded == 0) return std::nullopt;
  const auto bits = static_cast<uint32_t>(encoded);
  return makedev((bits >> 8) & 0xfff, (bits & 0xff) | ((bits >> 12) & 0xfff00));
}

// True if `terminal` is the controlling terminal of a session: someone's login, shell or
// terminal window. Reading from it would take what that person types. The kernel answers
// TIOCGSID on a terminal only to its own session, so the other sessions are found the way
// ps finds them, in /proc. Without /proc only this process's own terminal is recognised.
bool IsControllingTerminal(int fd, dev_t terminal) {
  pid_t session = 0;
  if (ioctl(fd, TIOCGSID, &session) == 0) return true;
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return false;
  bool found = false;
  while (const dirent* entry = readdir(processes)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    const int stat_fd =
        openat(dirfd(processes), (std::string(entry->d_name) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (stat_fd < 0) continue;  // the process has just ended
    char line[512];
    const ssize_t length = read(stat_fd, line, sizeof line);
    close(stat_fd);
    if (length > 0 && ControllingTerminalInStat(std::string_view(line, length)) == terminal) {
      found = true;
      break;
    }
  }
  closedir(processes);
  return found;
}

// The terminals this process has open as ports, by device number, with the path each was
// opened by: the same device under a second name (a link, /dev/serial/by-id/...) is this
// program's own port, not another program's.
class OpenTerminals {
 public:
  // Records `terminal` as opened by `path`; if it already is open, returns the path it was
  // opened by instead.
  std::optional<std::string> Claim(dev_t terminal, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto [entry, inserted] = paths_.emplace(terminal, path);
    if (inserted) return std::nullopt;
    return entry->second;
  }
  void Release(dev_t terminal) {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_.erase(terminal);
  }

 private:
  std::mutex mutex_;
  std::map<dev_t, std::string> paths_;
};

OpenTerminals& OpenTerminalsOfThisProcess() {
  static OpenTerminals terminals;
  return terminals;
}

// A terminal recorded in OpenTerminals until released or destroyed.
class TerminalClaim {
 public:
  TerminalClaim() = default;
  explicit TerminalClaim(dev_t terminal) : terminal_(terminal) {}
  TerminalClaim(TerminalClaim&& other) noexcept : terminal_(std::exchange(other.terminal_, std::nullopt)) {}
  TerminalClaim& operator=(TerminalClaim&& other) noexcept {
    Release();
    terminal_ = std::exchange(other.terminal_, std::nullopt);
    return *this;
  }
  ~TerminalClaim() { Release(); }

  void Release() {
    if (terminal_) OpenTerminalsOfThisProcess().Release(*std::exchange(terminal_, std::nullopt));
  }

 private:
  std::optional<dev_t> terminal_;
};

// Says why the just opened `fd` must not be read as a serial port, if it must not. On
// success `claim` records the terminal as this port's.
std::optional<SerialError> CheckTerminal(int fd, const std::string& path, TerminalClaim* claim) {
  struct stat status = {};
  if (fstat(fd, &status) != 0) return ErrorFromErrno(path, errno);
  if (!S_ISCHR(status.st_mode) || !isatty(fd)) {
    return MakeError(SerialErrorKind::kUnsupported, ENOTTY, Describe(path) + " is not a serial device");
  }
  if (IsPseudoTerminalMaster(fd, status)) {
    return MakeError(SerialErrorKind::kUnsupported, ENOTTY,
                     Describe(path) + " is a pseudo-terminal master, not a serial device");
  }
  const dev_t terminal = TerminalDevice(fd, status);
  if (std::optional<std::string> open_as = OpenTerminalsOfThisProcess().Claim(terminal, path)) {
    const std::string other_name = *open_as == path ? "" : " as " + Describe(*open_as) + " (the same device)";
    return MakeError(SerialErrorKind::kBusy, EBUSY,
                     Describe(path) + " is already open in this program" + other_name);
  }
  *claim = TerminalClaim(terminal);
  if (IsControllingTerminal(fd, terminal)) {
    return MakeError(SerialErrorKind::kBusy, EBUSY,
                     Describe(path) + " is the terminal of a running session (its controlling terminal)");
  }
  return std::nullopt;
}

// Whether the carrier detect line is up; nullopt when the device cannot tell.
std::optional<bool> CarrierPresent(int fd) {
  int lines = 0;
  if (ioctl(fd, TIOCMGET, &lines) != 0) return std::nullopt;
  return (lines & TIOCM_CD) != 0;
}

class PosixSerialPort final : public SerialPort {
 public:
  PosixSerialPort(int fd, int wake_fd, std::unique_ptr<ModemLineWatcher> carrier_watcher, TerminalClaim claim,
                  std::string path, PortAccess access)
      : fd_(fd),
        wake_fd_(wake_fd),
        carrier_watcher_(std::move(carrier_watcher)),
        claim_(std::move(claim)),
        path_(std::move(path)),
        access_(access) {}
  ~PosixSerialPort() override {
    Close();
    close(wake_fd_);
  }

  WaitResult WaitForEvent() override;
  ReadResult Read(std::span<uint8_t> buffer) override;
  void Wake() override;
  void Close() override;
  WriteResult Write(std::span<const uint8_t> bytes) override;

 private:
  int fd_;
  // Open for as long as this object lives, Close() included: Wake() may run on any thread
  // at any time, and a descriptor closed under it could be reused by something else in
  // the meantime, which the wake-up would then write into.
  const int wake_fd_;
  std::unique_ptr<ModemLineWatcher> carrier_watcher_;  // null when there are no modem lines
  TerminalClaim claim_;
  const std::string path_;
  const PortAccess access_;
};

WaitResult PosixSerialPort::WaitForEvent() {
  if (fd_ < 0) return {};
  enum { kPort, kWake, kCarrier, kCount };
  pollfd fds[kCount] = {};
  fds[kPort] = {.fd = fd_, .events = POLLIN, .revents = 0};
  fds[kWake] = {.fd = wake_fd_, .events = POLLIN, .revents = 0};
  // poll() skips entries with a negative fd.
  fds[kCarrier] = {
      .fd = carrier_watcher_ ? carrier_watcher_->ChangeFd() : -1, .events = POLLIN, .revents = 0};

  WaitResult result;
  result.outcome = WaitOutcome::kImmediate;
  // A failed wait ends the reader, so what is no failure waits again: a signal that
  // interrupted poll(), or a carrier notice with no change left to take.
  for (;;) {
    int ready = poll(fds, kCount, 0);
    if (ready == 0) {
      result.outcome = WaitOutcome::kDeferred;
      ready = poll(fds, kCount, -1);
    }
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return {};
    // The wake-up is never consumed, so every wait after Wake() ends here at once.
    if (fds[kWake].revents != 0) return {.outcome = WaitOutcome::kWoken, .events = 0};
    if (fds[kPort].revents & (POLLIN | POLLHUP | POLLERR)) result.events |= kEventReceived;
    const bool carrier_notice = fds[kCarrier].revents == POLLIN;
    if (carrier_notice && carrier_watcher_->ConsumeChanges()) {
      result.events |= kEventCarrierChanged;
      result.carrier_present = CarrierPresent(fd_);
    }
    if (result.events != 0) return result;
    if (!carrier_notice) return {};
  }
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
  uint64_t one = 1;
  // The only failure, a full counter, still leaves the eventfd readable.
  [[maybe_unused]] ssize_t written = write(wake_fd_, &one, sizeof one);
}

WriteResult PosixSerialPort::Write(std::span<const uint8_t> bytes) {
  if (access_ != PortAccess::kReadWrite) {
    return {.count = 0, .error = MakeError(SerialErrorKind::kUnsupported, EBADF, Describe(path_) + " is open for reading only")};
  }
  if (fd_ < 0) return {.count = 0, .error = ErrorFromErrno(path_, EBADF)};
  std::size_t written = 0;
  // The descriptor does not block: a device whose output buffer is full takes the rest
  // never rather than holding up the caller.
  while (written < bytes.size()) {
    const ssize_t count = write(fd_, bytes.data() + written, bytes.size() - written);
    if (count > 0) {
      written += static_cast<std::size_t>(count);
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else if (count < 0 && errno == EAGAIN) {
      return {.count = written,
              .error = MakeError(SerialErrorKind::kIo, EAGAIN, Describe(path_) + ": the device takes no more output now")};
    } else {
      return {.count = written, .error = ErrorFromErrno(path_, count < 0 ? errno : EIO)};
    }
  }
  return {.count = written, .error = {}};
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
  claim_.Release();
}

// Makes the just opened terminal ready for reading, or says why it cannot be used.
std::optional<SerialError> PrepareDevice(int fd, const std::string& path,
                                         const LineParameters& parameters) {
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

// Refuses a pseudo-terminal master before it is opened: opening /dev/ptmx would create a
// new pseudo-terminal.
std::optional<SerialError> RefuseMasterNode(const std::string& path) {
  struct stat status = {};
  if (stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) return std::nullopt;
  if (!IsPseudoTerminalMasterNode(status.st_rdev)) return std::nullopt;
  return MakeError(SerialErrorKind::kUnsupported, ENOTTY,
                   Describe(path) + " is a pseudo-terminal master, not a serial device");
}

class PosixSerialDriver final : public SerialDriver {
 public:
  OpenResult Open(const std::string& device_path, const LineParameters& parameters, PortAccess access) override;
};

OpenResult PosixSerialDriver::Open(const std::string& device_path, const LineParameters& parameters,
                                   PortAccess access) {
  std::optional<SerialError> refused = ValidateParameters(device_path, parameters);
  if (!refused) refused = RefuseMasterNode(device_path);
  if (refused) return {.port = nullptr, .error = std::move(*refused)};
  ScopedFd wake_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (wake_fd.get() < 0) return {.port = nullptr, .error = ErrorFromErrno(device_path, errno)};
  // O_NOCTTY: a terminal opened by a process without one would otherwise become its
  // controlling terminal.
  // Read-only unless something is to be sent: a port that only listens never needs more.
  const int mode = access == PortAccess::kReadWrite ? O_RDWR : O_RDONLY;
  ScopedFd fd(open(device_path.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return {.port = nullptr, .error = ErrorFromErrno(device_path, errno)};
  TerminalClaim claim;
  if (auto failure = CheckTerminal(fd.get(), device_path, &claim)) {
    return {.port = nullptr, .error = std::move(*failure)};
  }
  if (auto failure = PrepareDevice(fd.get(), device_path, parameters)) {
    return {.port = nullptr, .error = std::move(*failure)};
  }
  auto carrier_watcher = ModemLineWatcher::StartForCarrier(fd.get());
  return {.port = std::make_unique<PosixSerialPort>(fd.Release(), wake_fd.Release(), std::move(carrier_watcher),
                                                    std::move(claim), device_path, access),
          .error = {}};
}

}  // namespace

std::unique_ptr<SerialDriver> MakeLocalSerialDriver() {
  return std::make_unique<PosixSerialDriver>();
}

}  // namespace lintrel::platform
