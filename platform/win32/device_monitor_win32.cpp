#include "platform/device_monitor.h"

namespace lintrel::platform {

// Device notifications on Windows come through a window's message queue; lintrel-cli.exe
// has no window, so its lost ports are found again by the retry each second.
std::unique_ptr<DeviceMonitor> MakeSystemDeviceMonitor() { return nullptr; }

}  // namespace lintrel::platform
