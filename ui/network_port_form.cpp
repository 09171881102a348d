#include "ui/network_port_form.h"

#include "common/network_address.h"
#include "common/port_number.h"
#include "common/trim.h"
#include "ui/options_form.h"

namespace lintrel::ui {
namespace {

constexpr int kLowestNetworkPort = 1;  // COM0 is no name a program can open

// "COM9" or "9".
std::optional<int> ReadPortNumber(std::string_view text) {
  text = Trim(text);
  if (std::optional<int> number = ParsePortName(text)) return number;
  if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
  return ParseDialogInteger(text);
}

}  // namespace

NetworkPortForm NewNetworkPortForm(const std::set<int>& used) {
  int number = kLowestNetworkPort;
  while (number < kHighestPortNumber && used.contains(number)) ++number;
  return {.address = "", .port_text = PortName(number)};
}

std::optional<NetworkPortFormError> ApplyNetworkPortForm(const NetworkPortForm& form, const std::set<int>& machine_ports,
                                                         NetworkPort& port) {
  const std::string_view address_text = Trim(form.address);
  std::string problem;
  const std::optional<NetworkAddress> address = ParseNetworkAddress(address_text, &problem);
  if (!address) return NetworkPortFormError{NetworkPortField::kAddress, "Address: " + problem};
  const std::optional<int> number = ReadPortNumber(form.port_text);
  if (!number || *number < kLowestNetworkPort || *number > kHighestPortNumber) {
    return NetworkPortFormError{NetworkPortField::kPort, "COM port: give COMn with n from " +
                                                             std::to_string(kLowestNetworkPort) + " to " +
                                                             std::to_string(kHighestPortNumber)};
  }
  if (machine_ports.contains(*number)) {
    return NetworkPortFormError{NetworkPortField::kPort, "COM port: " + PortName(*number) +
                                                             " is a port of this computer; choose one it does not use"};
  }
  port = {.port_number = *number, .address = address->Text()};
  return std::nullopt;
}

std::set<int> MachinePortNumbers(const PortList& ports) {
  std::set<int> numbers;
  for (const PortEntry& entry : ports.entries()) {
    const std::optional<int> number = ParsePortName(entry.name);
    if (number && !IsNetworkAddressText(entry.device_path)) numbers.insert(*number);
  }
  return numbers;
}

std::string PortListText(const PortEntry& entry) {
  if (!IsNetworkAddressText(entry.device_path)) return entry.name;
  return entry.name + "  " + entry.device_path;
}

}  // namespace lintrel::ui
