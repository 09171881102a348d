#pragma once

#include <string>
#include <utility>

namespace lintrel {

// The device a port opens, or why it opens none (its device is pinned to another port, or
// the device it had is not plugged in). A path converts to it, so a resolver that always
// finds a device returns a plain path.
struct ResolvedDevice {
  ResolvedDevice(std::string device_path = {}) : path(std::move(device_path)) {}  // NOLINT: implicit by design

  static ResolvedDevice None(std::string reason) {
    ResolvedDevice none;
    none.no_device_reason = std::move(reason);
    return none;
  }

  bool found() const { return no_device_reason.empty(); }

  std::string path;
  std::string no_device_reason;  // empty when `path` is the device to open
};

}  // namespace lintrel
