#pragma once

#include <memory>
#include <string>
#include <vector>

namespace lintrel::platform {

// A serial port of a device that the system's device manager knows: the port's name
// ("COM7") and the instance id of the device behind it ("USB\VID_0403&PID_6001\A1B2C3").
struct PnpSerialPort {
  std::string port_name;
  std::string instance_id;
};

// The serial ports of the devices present now, as the device manager lists them.
//
// Thread contract: used by one thread at a time.
class PnpDevices {
 public:
  virtual ~PnpDevices() = default;
  // Empty when the system lists none (or cannot be asked).
  virtual std::vector<PnpSerialPort> PresentSerialPorts() = 0;
};

// The device manager of this machine (Windows only: SetupAPI).
std::unique_ptr<PnpDevices> OpenSystemPnpDevices();

}  // namespace lintrel::platform
