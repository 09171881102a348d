#pragma once

#include <functional>
#include <memory>
#include <string>

namespace lintrel::platform {

// Tells when a serial device appears (an adapter plugged in, a Bluetooth port bound), so that
// a port waiting for its device is re-opened at once instead of at its next retry.
//
// Thread contract: Start() and Stop() (and the destructor) run on the owning thread.
// `arrived` runs on the monitor's own thread, which Stop() wakes and joins; it must be safe
// to call from there and return quickly.
class DeviceMonitor {
 public:
  virtual ~DeviceMonitor() = default;
  // False, with the reason in *error, when the system's notices cannot be had. A monitor
  // can be started again after Stop(); Start() on a started one stops it first.
  virtual bool Start(std::function<void()> arrived, std::string* error) = 0;
  // Idempotent; after it, `arrived` is not called any more.
  virtual void Stop() = 0;
};

// The platform's monitor; null where there is none.
std::unique_ptr<DeviceMonitor> MakeSystemDeviceMonitor();

}  // namespace lintrel::platform
