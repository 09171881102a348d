#include <memory>
#include <string>
#include <utility>

#include "common/network_address.h"
#include "platform/network/network_serial_port.h"
#include "platform/serial_port.h"

namespace lintrel::platform {
namespace {

// Local devices by their path, network ports by their address.
class AddressRoutingDriver final : public SerialDriver {
 public:
  AddressRoutingDriver(std::unique_ptr<SerialDriver> local, std::unique_ptr<SerialDriver> network)
      : local_(std::move(local)), network_(std::move(network)) {}

  OpenResult Open(const std::string& device_path, const LineParameters& parameters, PortAccess access) override {
    SerialDriver& driver = IsNetworkAddressText(device_path) ? *network_ : *local_;
    return driver.Open(device_path, parameters, access);
  }

 private:
  std::unique_ptr<SerialDriver> local_;
  std::unique_ptr<SerialDriver> network_;
};

}  // namespace

std::unique_ptr<SerialDriver> MakeSystemSerialDriver() {
  return std::make_unique<AddressRoutingDriver>(MakeLocalSerialDriver(), MakeNetworkSerialDriver());
}

}  // namespace lintrel::platform
