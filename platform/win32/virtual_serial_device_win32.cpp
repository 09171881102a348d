#include "platform/virtual_serial_device.h"

namespace lintrel::platform {

// Windows has no pseudo-terminals to stand in for a device; the demo needs them.
std::unique_ptr<VirtualSerialDevice> VirtualSerialDevice::Create(const std::string& /*link_path*/,
                                                                 std::string* error) {
  *error = "virtual serial devices need pseudo-terminals, which Windows does not have";
  return nullptr;
}

}  // namespace lintrel::platform
