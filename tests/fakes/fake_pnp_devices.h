#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/pnp_devices.h"

namespace lintrel::testing {

// The device manager's list of serial ports, as the test plugs devices in and out.
class FakePnpDevices : public platform::PnpDevices {
 public:
  void Plug(std::string port_name, std::string instance_id) {
    ports_.push_back({std::move(port_name), std::move(instance_id)});
  }
  void Unplug(const std::string& port_name) {
    std::erase_if(ports_, [&](const platform::PnpSerialPort& port) { return port.port_name == port_name; });
  }
  std::vector<platform::PnpSerialPort> PresentSerialPorts() override { return ports_; }

 private:
  std::vector<platform::PnpSerialPort> ports_;
};

}  // namespace lintrel::testing
