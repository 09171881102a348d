#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "platform/device_monitor.h"
#include "platform/posix/scoped_fd.h"

namespace lintrel::platform {
namespace {

struct UdevDeleter {
  void operator()(udev* context) const { udev_unref(context); }
  void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
  void operator()(udev_device* device) const { udev_device_unref(device); }
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using MonitorPtr = std::unique_ptr<udev_monitor, UdevDeleter>;
using DevicePtr = std::unique_ptr<udev_device, UdevDeleter>;

// Where udev runs, its own notices come after it has set the device node's group and mode
// and made the /dev/serial links, so an open on arrival finds the device ready. Without
// udev (a minimal system, a container) libudev would listen to nothing at all on that
// source, so the kernel's notices are taken instead: devtmpfs has made the node by then.
const char* NoticeSource() { return access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel"; }

// A netlink monitor for tty devices being added, read on a thread of its own that an
// eventfd wakes.
class UdevDeviceMonitor final : public DeviceMonitor {
 public:
  ~UdevDeviceMonitor() override { Stop(); }

  bool Start(std::function<void()> arrived, std::string* error) override {
    Stop();
    if (!Open(error)) return false;
    arrived_ = std::move(arrived);
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  void Stop() override {
    if (!thread_.joinable()) return;
    const uint64_t one = 1;
    // A full counter still wakes the poll: the write cannot be lost.
    while (write(wake_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
    // The wake is taken back, or a later Start() would find it pending and end at once.
    uint64_t count = 0;
    while (read(wake_.get(), &count, sizeof count) < 0 && errno == EINTR) {
    }
  }

 private:
  bool Open(std::string* error) {
    context_.reset(udev_new());
    if (context_) monitor_.reset(udev_monitor_new_from_netlink(context_.get(), NoticeSource()));
    if (!monitor_ || udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_.get()) < 0) {
      *error = std::string("cannot watch for devices: ") + std::strerror(errno != 0 ? errno : EPROTO);
      return false;
    }
    if (wake_.get() < 0) {
      *error = std::string("cannot watch for devices: ") + std::strerror(errno);
      return false;
    }
    return true;
  }

  void Run() {
    pollfd fds[2] = {{.fd = udev_monitor_get_fd(monitor_.get()), .events = POLLIN, .revents = 0},
                     {.fd = wake_.get(), .events = POLLIN, .revents = 0}};
    while (true) {
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;  // nothing left to wait on; ports are still retried every second
      }
      if (fds[1].revents != 0) return;
      if (fds[0].revents & (POLLERR | POLLNVAL)) return;
      if (TakeNotices()) arrived_();
    }
  }

  // Reads every pending notice (the socket does not block); true if a device was added.
  bool TakeNotices() {
    bool added = false;
    errno = 0;
    while (const DevicePtr device{udev_monitor_receive_device(monitor_.get())}) {
      const char* action = udev_device_get_action(device.get());
      if (action != nullptr && std::string_view(action) == "add") added = true;
      errno = 0;
    }
    // The kernel dropped notices when the socket's buffer was full: one may have been an
    // arrival.
    return added || errno == ENOBUFS;
  }

  UdevPtr context_;
  MonitorPtr monitor_;
  ScopedFd wake_{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  std::function<void()> arrived_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<DeviceMonitor> MakeSystemDeviceMonitor() { return std::make_unique<UdevDeviceMonitor>(); }

}  // namespace lintrel::platform
